#!/bin/sh
# twf runs this in the run folder once the sinks have every expected document: the held plates
# never reach a sink, so the run waits here until module Pass has passed on every plate and the
# spool-mode modules have spooled theirs (the log shows each step), at most 30 s.
plates=$(ls pages/*.rst | wc -l)
spooled=$(grep -l 'Device=[345]' pages/*.rst.dds | wc -l)
count() { grep -c "$1" twf.log; }
i=0
while [ "$i" -lt 150 ]; do
    passed=$(count 'module 3 (Pass): File .* transferred')
    done3=$(($(count 'module 5 (Spool): File .* spooled') + $(count 'module 7 (Plates): File .* spooled')))
    if [ "$passed" -ge "$plates" ] && [ "$done3" -ge "$spooled" ]; then
        echo "every plate passed ($passed) and spooled ($done3)"
        exit 0
    fi
    sleep 0.2
    i=$((i + 1))
done
echo "still waiting: $passed of $plates plates passed, $done3 of $spooled spooled"
exit 1
