#include "console/ConsoleTestSupport.h"

#include "common/Language.h"
#include "console/ConsoleDialogs.h"
#include "console/ImageLists.h"
#include "console/ShowAbout.h"
#include "console/TCheckListBox.h"
#include "console/TRadioGroup.h"
#include "console/TResourceFile.h"
#include "console/TUpDown.h"
#include "console/TVersion.h"
#include "console/TfAbout.h"
#include "console/TfDevices.h"
#include "console/TfPriority.h"
#include "platform/System.h"
#include "version/ProgramVersion.h"

#include <QBuffer>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QtTest>

namespace raduvuz::test {

namespace {

void Put32(std::string& out, size_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

// A resource block as the build lays it out, made here from its description.
std::string Block(const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string area;
    for (const auto& [name, data] : entries) {
        area += name;
        area.push_back('\0');
        Put32(area, data.size());
        area += data;
    }
    std::string block("\x7FRaduvuzResources\x01", 18);
    Put32(block, area.size());
    return block + area + std::string("\x7FRaduvuzResourcesEnd\x01", 21);
}

std::string Png(int size) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    DrawApplicationPicture(size).save(&buffer, "PNG");
    return bytes.toStdString();
}

// A registry with the language value and, when given, the product line.
QByteArray Registry(const QByteArray& language, const QByteArray& productLine = {}) {
    QByteArray text = "[SOFTWARE\\Tarnwick\\Korvo PDF Server\\5.0]\nLanguage=" + language + "\n";
    if (!productLine.isEmpty())
        text += "[SOFTWARE\\Tarnwick\\TernWorkFlow]\nProductLine=" + productLine + "\n";
    return text;
}

} // namespace

class DialogsTest : public QObject {
    Q_OBJECT

private slots:
    void translatesAWindowAndItsListsByTags() {
        TTestFolder folder;
        QVERIFY(QFile::copy(qEnvironmentVariable("RADUVUZ_TEST_DATA") + "/console/Language.test",
                            folder.Path(QStringLiteral("Language.test"))));
        folder.WriteFile(QStringLiteral("registry.ini"), Registry("test"));
        TLanguageTable language(folder.StdPath(QString()));

        TfPriority form;
        auto* paper = new QListWidget(&form);
        paper->addItem(QStringLiteral("old item"));
        auto* devices = new TCheckListBox(&form);
        auto* status = new TRadioGroup(&form);
        auto* hintOnly = new QLabel(QStringLiteral("keeps no caption"), &form);
        auto* untagged = new QLabel(QStringLiteral("untouched"), &form);
        TTWForm::SetTag(&form, 5001);
        TTWForm::SetTag(form.StaticText1, 5002);
        TTWForm::SetTag(form.bOk, 5003 | 5006 << 16);
        TTWForm::SetTag(paper, 5005);
        TTWForm::SetTag(devices, 5008);
        TTWForm::SetTag(status, 5007);
        TTWForm::SetTag(hintOnly, 5006 << 16);
        // A number the table lacks changes nothing.
        TTWForm::SetTag(form.bCancel, 4999);
        form.TranslateForm(language);

        QCOMPARE(language.State(), TLanguageState::Loaded);
        QCOMPARE(form.windowTitle(), QStringLiteral("Priorität ändern"));
        QCOMPARE(form.StaticText1->text(), QStringLiteral("Priorität:"));
        QCOMPARE(form.bOk->text(), QStringLiteral("Übernehmen"));
        QCOMPARE(form.bOk->toolTip(), QStringLiteral("Nur ein Hinweis"));
        QCOMPARE(form.bCancel->text(), QStringLiteral("Cancel"));
        QCOMPARE(hintOnly->text(), QString());
        QCOMPARE(hintOnly->toolTip(), QStringLiteral("Nur ein Hinweis"));
        QCOMPARE(untagged->text(), QStringLiteral("untouched"));

        QCOMPARE(paper->accessibleName(), QStringLiteral("Papier"));
        QCOMPARE(paper->count(), 3);
        QCOMPARE(paper->item(0)->text(), QStringLiteral("A4"));
        QCOMPARE(paper->item(1)->text(), QStringLiteral("Letter"));
        QCOMPARE(paper->item(2)->text(), QStringLiteral("Legal size"));
        // Without "0:" the whole text gives the items.
        QCOMPARE(devices->Count(), 2);
        QCOMPARE(devices->ItemText(1), QStringLiteral("Gerät2"));
        // The caption before the items loses its quotes.
        QCOMPARE(status->title(), QStringLiteral("Status"));
    }

    void aboutBoxOfTheProgramItself() {
        TTestFolder folder;
        // The build embedded the version and the pictures into this test program too.
        const TVersion own("");
        QCOMPARE(own.FileDescription, std::string("Queuer module"));
        QVERIFY(!own.Comments.empty());
        QVERIFY(TResourceFile::Own().Find("MAINICON").has_value());
        QCOMPARE(TResourceFile("").Find("VERSION"), TResourceFile::Own().Find("VERSION"));

        TfAbout about;
        PrepareAbout(about, "");
        QCOMPARE(about.Label1->text(), QStringLiteral("Korvo PDF Server"));
        QCOMPARE(about.lModuleName->text(), QStringLiteral("Queuer module"));
        // The box agrees with the version the programs print: "1.1.0+g5e9013d" shows Build 1.1.
        const QStringList version = QString::fromLatin1(ProgramVersion()).split(QLatin1Char('.'));
        QVERIFY(version.size() >= 3);
        QCOMPARE(about.lVersion->text(),
                 QStringLiteral("Build %1.%2").arg(version[0].toInt()).arg(version[1].toInt()));
        QCOMPARE(own.ProductVersion[0], uint16_t(version[0].toUInt()));
        QCOMPARE(own.ProductVersion[1], uint16_t(version[1].toUInt()));
        QCOMPARE(own.ProductVersion[2],
                 uint16_t(version[2].section(QLatin1Char('+'), 0, 0).toUInt()));
        QCOMPARE(about.mComment->toPlainText().toStdString(), own.Comments);
        QCOMPARE(about.imgModule->pos(), QPoint(8, 8));
        QVERIFY(!about.imgModule->pixmap().isNull());

        // The product line comes from the registry, whichever file the box describes.
        folder.WriteFile(QStringLiteral("registry.ini"), Registry("", "Print Line 7"));
        TfAbout branded;
        PrepareAbout(branded, folder.StdPath(QStringLiteral("no such file")));
        QCOMPARE(branded.Label1->text(), QStringLiteral("Print Line 7"));
    }

    void aboutBoxOfOtherFiles() {
        TTestFolder folder;
        // A stray marker without a whole block comes first and is passed over.
        std::string release = "junk\x7FRaduvuzResources\x01\x05\0\0\0more junk";
        release += Block({{"VERSION", "FileVersion=5.0.3.12\nFileDescription=Scan module\n"},
                          {"MAINICON", Png(32)}});
        release += "tail";
        const struct {
            const char* File;
            std::string Bytes;
            const char* Version;
            const char* Name;
            const char* Comment;
            QPoint Position;
            int Picture;
        } files[] = {
            {"release", release, "Build 3.12", "Scan module", "", {24, 24}, 32},
            {"beta",
             Block({{"VERSION", "FileVersion=5.0.0.12\nComments=Line of comment\n"},
                    {"ABOUTIMAGE", Png(64)}}),
             "Beta Build 0.12",
             "",
             "Line of comment",
             {8, 8},
             64},
            {"plain", "no version information here", "Beta Build 0.0", "", "", {-100, -100}, 0},
        };
        for (const auto& file : files) {
            const QString name = QString::fromLatin1(file.File);
            folder.WriteFile(name, QByteArray::fromStdString(file.Bytes));
            TfAbout about;
            PrepareAbout(about, folder.StdPath(name));
            QCOMPARE(about.lVersion->text(), QString::fromLatin1(file.Version));
            QCOMPARE(about.lModuleName->text(), QString::fromLatin1(file.Name));
            QCOMPARE(about.mComment->toPlainText(), QString::fromLatin1(file.Comment));
            QCOMPARE(about.imgModule->pos(), file.Position);
            if (file.Picture)
                QCOMPARE(about.imgModule->size(), QSize(file.Picture, file.Picture));
        }

        const TVersion missing(folder.StdPath(QStringLiteral("no such file")));
        QCOMPARE(missing.FileVersion[0], uint16_t(0));
        QVERIFY(missing.Block.empty());
    }

    // Save As takes a folder that is there, one the dialog makes, or one typed that is not there
    // yet (the copy makes it).
    void theFolderDialogTakesANewFolder() {
        TTestFolder folder;
        QVERIFY(QDir().mkpath(folder.Path(QStringLiteral("kept"))));
        for (const QString& name : {QStringLiteral("kept"), QStringLiteral("new")}) {
            TFolderDialog chosen(nullptr, QStringLiteral("Select directory for save"));
            chosen.setDirectory(folder.Path(QString()));
            auto* newFolder = chosen.findChild<QToolButton*>(QStringLiteral("newFolderButton"));
            QVERIFY(newFolder && newFolder->isEnabled());
            chosen.selectFile(name);
            chosen.accept();
            QCOMPARE(chosen.result(), int(QDialog::Accepted));
            QCOMPARE(QDir(chosen.Folder()), QDir(folder.Path(name)));
        }
    }

    void smallDialogs() {
        TfPriority priority;
        // The arrows keep to 0..10 without wrapping, and read text that is no number as 0.
        priority.mePriority->setText(QStringLiteral("abc"));
        priority.UpDown1->Step(1);
        QCOMPARE(priority.mePriority->text(), QStringLiteral("1"));
        priority.mePriority->setText(QStringLiteral("9"));
        priority.UpDown1->Step(1);
        priority.UpDown1->Step(1);
        QCOMPARE(priority.mePriority->text(), QStringLiteral("10"));
        priority.mePriority->setText(QStringLiteral("0"));
        priority.UpDown1->Step(-1);
        QCOMPARE(priority.mePriority->text(), QStringLiteral("0"));
        QTimer::singleShot(0, priority.bCancel, &QPushButton::click);
        QCOMPARE(priority.exec(), int(QDialog::Rejected));

        // Every device disabled: OK still closes, with nothing checked.
        TfDevices devices;
        devices.cblDevices->AddItem(QStringLiteral("Platesetter"), 3);
        devices.cblDevices->AddItem(QStringLiteral("Proofer"), 7);
        devices.cblDevices->SetItemEnabled(0, false);
        devices.cblDevices->SetItemEnabled(1, false);
        QTimer::singleShot(0, devices.bOk, &QPushButton::click);
        QCOMPARE(devices.exec(), int(QDialog::Accepted));
        QVERIFY(!devices.cblDevices->Checked(0));
        QVERIFY(!devices.cblDevices->Checked(1));

        // The about box's OK is its cancel button too.
        TfAbout about;
        QTimer::singleShot(0, &about, [&about] { QTest::keyClick(&about, Qt::Key_Escape); });
        QCOMPARE(about.exec(), int(QDialog::Accepted));
    }
};

const TConsoleTests<DialogsTest> kDialogsTests;

} // namespace raduvuz::test

#include "DialogsTest.moc"
