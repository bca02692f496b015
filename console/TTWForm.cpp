#include "console/TTWForm.h"

#include "common/CommaText.h"
#include "common/Language.h"
#include "console/TCheckListBox.h"
#include "console/TManualViewer.h"
#include "console/TRadioGroup.h"
#include "platform/System.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QShortcut>
#include <QTextEdit>
#include <QVariant>
#include <QWidget>

#include <algorithm>

namespace raduvuz {

namespace {

constexpr const char* kTagProperty = "Tag";
// The text after "0:Caption," is cut to this many characters.
constexpr size_t kMaxItemText = 255;

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

std::string Low(TLanguageTable& language, int32_t tag) {
    const int number = tag & 0xFFFF;
    return number == 0 ? std::string() : language.Text(number, "");
}

std::string High(TLanguageTable& language, int32_t tag) {
    const int number = (tag >> 16) & 0xFFFF;
    return number == 0 ? std::string() : language.Text(number, "");
}

bool IsListControl(const QObject* component) {
    return qobject_cast<const QListWidget*>(component) != nullptr ||
           qobject_cast<const QComboBox*>(component) != nullptr ||
           qobject_cast<const TRadioGroup*>(component) != nullptr;
}

void SetHint(QObject* component, const std::string& hint) {
    if (hint.empty())
        return;
    if (auto* action = qobject_cast<QAction*>(component)) {
        action->setToolTip(Q(hint));
        action->setStatusTip(Q(hint));
    } else if (auto* widget = qobject_cast<QWidget*>(component)) {
        widget->setToolTip(Q(hint));
    }
}

void SetCaption(QObject* component, const QString& text) {
    if (auto* action = qobject_cast<QAction*>(component))
        action->setText(text);
    else if (auto* menu = qobject_cast<QMenu*>(component))
        menu->setTitle(text);
    else if (auto* label = qobject_cast<QLabel*>(component))
        label->setText(text);
    else if (auto* button = qobject_cast<QAbstractButton*>(component))
        button->setText(text);
    else if (auto* group = qobject_cast<QGroupBox*>(component))
        group->setTitle(text);
    else if (auto* edit = qobject_cast<QLineEdit*>(component))
        edit->setText(text);
    else if (auto* memo = qobject_cast<QPlainTextEdit*>(component))
        memo->setPlainText(text);
    else if (auto* rich = qobject_cast<QTextEdit*>(component))
        rich->setPlainText(text);
    else if (auto* combo = qobject_cast<QComboBox*>(component))
        combo->setPlaceholderText(text);
    else if (auto* widget = qobject_cast<QWidget*>(component)) {
        // Lists and other controls without a visible caption keep it as their name for tools.
        widget->setWindowTitle(text);
        widget->setAccessibleName(text);
    }
}

// The chosen item stays chosen when the translated list has as many items as before.
void SetItems(QObject* component, const QStringList& items) {
    const auto keep = [&items](int count, int chosen) {
        return count == items.size() ? chosen : -1;
    };
    if (auto* checks = qobject_cast<TCheckListBox*>(component)) {
        checks->Clear();
        for (const QString& item : items)
            checks->AddItem(item, 0);
    } else if (auto* list = qobject_cast<QListWidget*>(component)) {
        const int chosen = keep(list->count(), list->currentRow());
        list->clear();
        list->addItems(items);
        list->setCurrentRow(chosen);
    } else if (auto* combo = qobject_cast<QComboBox*>(component)) {
        const int chosen = keep(combo->count(), combo->currentIndex());
        combo->clear();
        combo->addItems(items);
        combo->setCurrentIndex(chosen);
    } else if (auto* radios = qobject_cast<TRadioGroup*>(component)) {
        const int chosen = keep(radios->Items().size(), radios->ItemIndex());
        radios->SetItems(items);
        radios->SetItemIndex(chosen);
    }
}

} // namespace

TTWForm::TTWForm(QWidget* form, bool helpKey) : Form(form) {
    if (!helpKey)
        return;
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), form);
    help->setContext(Qt::WindowShortcut);
    QObject::connect(help, &QShortcut::activated, form,
                     [this] { Help(kHelpContext, HelpContext); });
}

void TTWForm::SetTag(QObject* component, int32_t tag) {
    component->setProperty(kTagProperty, tag);
}

int32_t TTWForm::Tag(const QObject* component) {
    const QVariant value = component->property(kTagProperty);
    return value.isValid() ? value.toInt() : 0;
}

std::function<bool(const QUrl&)>& TTWForm::HelpOpener() {
    static std::function<bool(const QUrl&)> opener = [](const QUrl& url) {
        TManualViewer::Show(url, nullptr);
        return true;
    };
    return opener;
}

QUrl TTWForm::ManualUrl() {
    const QFileInfo built(Q(ProgramFolder()) + QStringLiteral("../packaging/man/raduvuz.1"));
    if (built.isFile())
        return QUrl::fromLocalFile(built.canonicalFilePath());
    return QUrl(QStringLiteral("man:raduvuz(1)"));
}

bool TTWForm::Help(int, int) {
    HelpOpener()(ManualUrl());
    return true;
}

bool TTWForm::FillFromText(QObject* component, const std::string& source) {
    if (!IsListControl(component))
        return false;
    std::string text = source;
    const size_t comma = text.find(',');
    if (text.rfind("0:", 0) == 0 && comma != std::string::npos) {
        std::string caption = text.substr(2, comma - 2);
        caption.erase(std::remove(caption.begin(), caption.end(), '\''), caption.end());
        SetCaption(component, Q(caption));
        text = text.substr(comma + 1, kMaxItemText);
    }
    std::replace(text.begin(), text.end(), '\'', '"');
    QStringList items;
    for (const std::string& item : ReadCommaText(text))
        items << Q(item);
    SetItems(component, items);
    return true;
}

void TTWForm::TranslateComponent(TLanguageTable& language, QObject* component, int32_t tag) {
    const std::string text = Low(language, tag);
    const std::string hint = High(language, tag);
    if (text.empty() && hint.empty())
        return;
    if (IsListControl(component)) {
        FillFromText(component, text);
        SetHint(component, hint);
        return;
    }
    SetCaption(component, Q(text));
    SetHint(component, hint);
}

void TTWForm::TranslateForm() {
    TranslateForm(ProgramLanguage());
}

void TTWForm::TranslateForm(TLanguageTable& language) {
    // The first lookup loads the language table.
    const int32_t formTag = Tag(Form);
    if (formTag > 0)
        Form->setWindowTitle(Q(language.Text(formTag & 0xFFFF, Form->windowTitle().toStdString())));
    else
        language.Text(0, "");
    if (language.State() != TLanguageState::Loaded)
        return;
    // Filling a list replaces its item widgets, so the tagged components are gathered first.
    QList<QPointer<QObject>> tagged;
    for (QObject* component : Form->findChildren<QObject*>()) {
        if (Tag(component) > 0)
            tagged << component;
    }
    for (const QPointer<QObject>& component : tagged) {
        if (component)
            TranslateComponent(language, component, Tag(component));
    }
    TranslateOwnTexts(language);
}

} // namespace raduvuz
