#include "jobs/TDestRouter.h"

#include "common/CommaText.h"
#include "common/DateTime.h"
#include "common/Utils.h"

#include <algorithm>
#include <memory>

namespace raduvuz {

void TDestRouter::Expire(TDateTime now) {
    for (TDestMark& mark : Marks) {
        std::erase_if(mark.Records, [now](const std::shared_ptr<TMPrec>& record) {
            return !record || MinutesBetween(now, record->Time) > 60;
        });
    }
}

std::string TDestRouter::Choose(const std::string& dests, const std::string& name, int32_t jobID,
                                const std::string& color,
                                const std::function<bool(int32_t)>& ready) {
    // Plates of one job go where that job already is, one plate of each colour.
    if (!color.empty()) {
        const std::string there = WhereTheJobIs(dests, name, jobID, color);
        if (!there.empty())
            return there;
    }
    return NextInTurn(dests, name, jobID, color, ready);
}

std::string TDestRouter::WhereTheJobIs(const std::string& dests, const std::string& name,
                                       int32_t jobID, const std::string& color) {
    for (TDestMark& mark : Marks) {
        if (dests.find(mark.Dest) == std::string::npos)
            continue;
        for (const std::shared_ptr<TMPrec>& record : mark.Records) {
            if (record->Name != name && record->JobID != jobID)
                continue;
            const std::vector<std::string> colors = ReadCommaText(record->Colors);
            if (std::find(colors.begin(), colors.end(), color) != colors.end())
                continue;
            record->Colors += "," + color;
            record->Time = Now();
            return mark.Dest;
        }
    }
    return std::string();
}

std::string TDestRouter::NextInTurn(const std::string& dests, const std::string& name,
                                    int32_t jobID, const std::string& color,
                                    const std::function<bool(int32_t)>& ready) {
    const std::vector<std::string> items = ReadCommaText(dests);
    const int32_t count = static_cast<int32_t>(items.size());
    for (int32_t k = 0; k < count; ++k) {
        LastTurn = LastTurn + 1;
        if (LastTurn >= count || LastTurn < 0)
            LastTurn = 0;
        const std::string& item = items[static_cast<size_t>(LastTurn)];
        const int32_t dest = StrToIntDef(item, 0);
        if (dest == 0 || !ready(dest))
            continue;
        for (TDestMark& mark : Marks) {
            if (mark.Dest == item) {
                mark.Records.push_back(std::make_shared<TMPrec>(TMPrec{name, color, jobID, Now()}));
                break;
            }
        }
        return std::to_string(dest);
    }
    return std::string();
}

} // namespace raduvuz
