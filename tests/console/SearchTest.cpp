#include "console/ConsoleTestSupport.h"

#include "common/DateTime.h"
#include "console/ConsoleForms.h"
#include "console/TJobListView.h"
#include "console/TNotice.h"
#include "console/TRadioGroup.h"
#include "console/TfMain.h"
#include "console/TfSearch.h"
#include "control/JobSearch.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <cmath>
#include <ctime>

namespace raduvuz::test {

namespace {

TListRow Passed(const std::string& job, const std::string& name, const std::string& date) {
    TListRow row;
    row.Caption = job;
    row.SubItems = {"9" + job, name, "1", "CMYK", date, "10:00:00", "RST", "1.00 Kb", "", ""};
    return row;
}

// A passed row of a job that came on a day, as the module makes it.
TListRow CameOn(const std::string& job, TDateTime day) {
    TListRow row = Passed(job, "Job " + job, ShortDateText(day));
    row.Created = day + 0.5;
    return row;
}

TDateTime Day(int year, int month, int day) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    return DateTimeFromTm(tm);
}

} // namespace

class SearchTest : public QObject, protected TCaughtNotices {
    Q_OBJECT

private slots:
    void init() {
        Messages.clear();
        Beeps = 0;
    }

    void eachRefusalKeepsTheDialogOpen() {
        TfSearch search;
        int newSearches = 0;
        search.OnNewSearch = [&newSearches] { ++newSearches; };
        search.show();
        QVERIFY(QTest::qWaitForWindowExposed(&search));
        // Every field wrong at once: the checks come in order, one message per click.
        QTest::keyClicks(search.eDate, QStringLiteral("13"));
        search.eSize->setText(QStringLiteral("12x"));
        search.eJobID->setText(QStringLiteral("1.5"));
        search.eDocId->setText(QStringLiteral("doc"));
        const QStringList expected = {
            QStringLiteral("Job date incorrect"), QStringLiteral("Job size incorrect"),
            QStringLiteral("Job Id incorrect"), QStringLiteral("Doc Id incorrect")};
        QList<QLineEdit*> fields = {search.eDate, search.eSize, search.eJobID, search.eDocId};
        for (int i = 0; i < expected.size(); ++i) {
            QPushButton* button = i % 2 == 0 ? search.bFind : search.bFindNext;
            QTest::mouseClick(button, Qt::LeftButton);
            QCOMPARE(Messages.size(), i + 1);
            QCOMPARE(Messages.last(), expected[i]);
            QVERIFY(search.isVisible());
            QCOMPARE(search.result(), 0);
            fields[i]->clear();
        }
        QCOMPARE(newSearches, 0);
        // A date in the short date format passes; Find then starts a new search.
        search.eDate->setText(QString::fromStdString(ShortDateText(Now())));
        search.eSize->setText(QStringLiteral("2.5"));
        QTest::mouseClick(search.bFind, Qt::LeftButton);
        QCOMPARE(Messages.size(), expected.size());
        QVERIFY(!search.isVisible());
        QCOMPARE(search.result(), int(QDialog::Accepted));
        QCOMPARE(newSearches, 1);
        TJobSearchCriteria criteria;
        std::string error;
        QVERIFY(search.ReadCriteria(criteria, error));
        QVERIFY(criteria.Date.has_value());
        QCOMPARE(criteria.Size->Kb, 2.5);

        // Choosing the other list starts anew as well.
        search.rgJobStatus->findChildren<QAbstractButton*>().first()->click();
        QCOMPARE(newSearches, 2);
    }

    void ctrlFThenF3SelectsTheRowFound() {
        TTestFolder folder;
        TBareWindow window;
        TConsoleForms forms(&window, folder.StdPath(QString()));
        const std::string today = ShortDateText(Now());
        window.CompletedJobs().Add(Passed("11", "Flyer job", today));
        window.CompletedJobs().Add(Passed("12", "Poster", today));
        window.CompletedJobs().Add(Passed("13", "JOB card", today));
        window.CompletedJobs().Add(Passed("14", "Jobs list", today));
        window.ProcessJobs().Add(Passed("21", "Job in process", today));
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        window.lvCompletedJobs->SelectRow(1);

        TfSearch& search = *forms.fSearch;
        QTimer::singleShot(0, &search, [&search] {
            search.eName->setText(QStringLiteral("job"));
            QTest::mouseClick(search.bFind, Qt::LeftButton);
        });
        QTest::keyClick(&window, Qt::Key_F, Qt::ControlModifier);
        // The list has the input focus once the window is active again after the dialog; the
        // row found is the one selected, so the next action works on it.
        QTRY_VERIFY(window.lvCompletedJobs->hasFocus());
        QCOMPARE(window.lvCompletedJobs->FocusedRow(), 0);
        QCOMPARE(window.lvCompletedJobs->Selected(), window.CompletedJobs().At(0));
        QCOMPARE(window.SearchPosition, 0);
        QTest::keyClick(&window, Qt::Key_F3);
        QCOMPARE(window.lvCompletedJobs->FocusedRow(), 2);
        QTest::keyClick(&window, Qt::Key_F3);
        QCOMPARE(window.lvCompletedJobs->FocusedRow(), 3);
        QCOMPARE(window.lvCompletedJobs->SelectedRows().size(), size_t(1));
        QCOMPARE(window.lvCompletedJobs->Selected(), window.CompletedJobs().At(3));
        QVERIFY(Messages.isEmpty());

        // Sorted by name the other way round, the search walks the rows as they are shown:
        // "Jobs list" first, then "JOB card".
        window.lvCompletedJobs->SortBy(2, Qt::DescendingOrder);
        window.SearchPosition = -1;
        window.JobSearch();
        QCOMPARE(window.lvCompletedJobs->Selected(), window.CompletedJobs().At(3));
        QTest::keyClick(&window, Qt::Key_F3);
        QCOMPARE(window.lvCompletedJobs->Selected(), window.CompletedJobs().At(2));
        window.lvCompletedJobs->SortBy(-1, Qt::AscendingOrder);
        window.SearchPosition = 3;

        QTest::keyClick(&window, Qt::Key_F3);
        QCOMPARE(Messages, QStringList({QStringLiteral("Job not found")}));
        QCOMPARE(window.SearchPosition, -1);

        // After the end F3 asks again; Cancel searches nothing.
        bool asked = false;
        QTimer::singleShot(0, &search, [&search, &asked] {
            asked = search.isVisible();
            QTest::mouseClick(search.bCancel, Qt::LeftButton);
        });
        window.ASearchAgain->trigger();
        QVERIFY(asked);
        QCOMPARE(Messages.size(), 1);
        QCOMPARE(window.SearchPosition, -1);

        // Find Next starts from the top too, here in the list of jobs in process.
        QTimer::singleShot(0, &search, [&search] {
            search.rgJobStatus->SetItemIndex(0);
            QTest::mouseClick(search.bFindNext, Qt::LeftButton);
        });
        window.ASearch->trigger();
        QCOMPARE(window.focusWidget(), window.lvProcessJobs);
        QCOMPARE(window.lvProcessJobs->FocusedRow(), 0);
        QCOMPARE(window.lvProcessJobs->Selected(), window.ProcessJobs().At(0));

        // A date the Date column cannot read ends the search at its row, so F3 goes on after it.
        window.CompletedJobs().Add(Passed("15", "Bad", "not a date"));
        search.rgJobStatus->SetItemIndex(1);
        search.eName->clear();
        search.eDate->setText(QString::fromStdString(ShortDateText(Now())));
        window.SearchPosition = 3;
        window.JobSearch();
        QCOMPARE(Messages.mid(1),
                 QStringList({QStringLiteral("'not a date' is not a valid date")}));
        QCOMPARE(window.SearchPosition, 4);
    }

    // The date criterion reads the day in the form the Date column shows, in every locale:
    // typed as the list shows today it finds today's job and no other.
    void datesReadAsTheListShowsThemInEveryLocale_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("mask");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("tooShort");
        // The 4th of March 2019: a day that reads as the 3rd of April the other way round.
        QTest::newRow("de_DE") << "de_DE.UTF-8"
                               << "99.99.9999"
                               << "04.03.2019"
                               << "04.03.19";
        QTest::newRow("en_US") << "en_US.UTF-8"
                               << "99/99/9999"
                               << "03/04/2019"
                               << "03/04/19";
        QTest::newRow("en_GB") << "en_GB.UTF-8"
                               << "99/99/99"
                               << "04/03/19"
                               << "04/03/1";
    }
    void datesReadAsTheListShowsThemInEveryLocale() {
        QFETCH(QString, locale);
        QFETCH(QString, mask);
        QFETCH(QString, typed);
        QFETCH(QString, tooShort);
        const TScopedLocale inLocale(locale.toLatin1().constData());
        if (!inLocale.Ok())
            QSKIP("the locale cannot be made here (no localedef or locale definitions)");

        TTestFolder folder;
        TBareWindow window;
        TConsoleForms forms(&window, folder.StdPath(QString()));
        TfSearch& search = *forms.fSearch;
        QCOMPARE(search.eDate->inputMask(), mask + QStringLiteral(";_"));
        const TDateTime today = std::trunc(Now());
        window.CompletedJobs().Add(CameOn("1", Day(2019, 3, 3)));
        window.CompletedJobs().Add(CameOn("2", Day(2019, 3, 4)));
        window.CompletedJobs().Add(CameOn("3", Day(2019, 4, 3)));
        window.CompletedJobs().Add(CameOn("4", today));
        const auto found = [&](TSearchCompare compare, const QString& day) {
            search.eDate->clear();
            QTest::keyClicks(search.eDate, day);
            search.cbDate->setCurrentIndex(static_cast<int>(compare));
            std::string ids;
            window.SearchPosition = -1;
            for (;;) {
                window.JobSearch();
                if (window.SearchPosition < 0)
                    break;
                ids += (ids.empty() ? "" : " ") + window.lvCompletedJobs->Selected()->Caption;
            }
            return ids;
        };
        // "= today" typed as the list shows today.
        QCOMPARE(found(TSearchCompare::Equal, QString::fromStdString(ShortDateText(today))),
                 std::string("4"));
        QCOMPARE(found(TSearchCompare::Equal, typed), std::string("2"));
        QCOMPARE(found(TSearchCompare::Less, typed), std::string("1"));
        // A day that does not fill the form is refused, not read as the year 26.
        search.eDate->clear();
        QTest::keyClicks(search.eDate, tooShort);
        QVERIFY(!search.CheckFields());
        QCOMPARE(Messages.last(), QStringLiteral("Job date incorrect"));
    }
};

const TConsoleTests<SearchTest> kSearchTests;

} // namespace raduvuz::test

#include "SearchTest.moc"
