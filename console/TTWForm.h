#pragma once

#include <QString>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <string>

class QObject;
class QWidget;

namespace raduvuz {

class TLanguageTable;

// The base of the module's translated windows. Components take part in translation through a
// tag (the "Tag" property): its low 16 bits number the component's text, its high 16 bits its
// hint; the window's own tag numbers its caption. Help requests (F1) open the program's manual.
class TTWForm {
public:
    // The help command that shows the topic of a context number.
    static constexpr int kHelpContext = 0x0F;

    // helpKey: F1 asks for the window's help context (a window with its own F1 action says no).
    explicit TTWForm(QWidget* form, bool helpKey = true);
    virtual ~TTWForm() = default;
    TTWForm(const TTWForm&) = delete;
    TTWForm& operator=(const TTWForm&) = delete;

    static void SetTag(QObject* component, int32_t tag);
    static int32_t Tag(const QObject* component);

    // Replaces the window's texts with those of the user's language: the program's table, or
    // the one given.
    void TranslateForm();
    void TranslateForm(TLanguageTable& language);
    // The help handler: opens the manual and always answers that it handled the request, so
    // that no other help runs. The window's help context is kept for its numbers' sake; the
    // manual has one page.
    bool Help(int command, int data);

    int HelpContext = 0;

    // The manual page raduvuz(1): the one built beside a program run from its build tree
    // (<program folder>/../packaging/man/raduvuz.1), else the installed one ("man:raduvuz(1)").
    static QUrl ManualUrl();
    // Opens the manual (in TManualViewer); tests put a recorder in its place.
    static std::function<bool(const QUrl&)>& HelpOpener();

    // Fills a radio group, list box, combo box or check list from a language text: "0:Caption,"
    // in front gives the control's caption, the rest (single quotes standing for double ones) is
    // the comma text of its items. False for any other kind of component.
    static bool FillFromText(QObject* component, const std::string& text);

protected:
    // Texts of the window that are no component of their own (list columns, for one); run after
    // the components when a language table is loaded.
    virtual void TranslateOwnTexts(TLanguageTable&) {}

    QWidget* Form;

private:
    static void TranslateComponent(TLanguageTable& language, QObject* component, int32_t tag);
};

} // namespace raduvuz
