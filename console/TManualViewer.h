#pragma once

#include <QDialog>
#include <QString>
#include <QUrl>

class QPlainTextEdit;

namespace raduvuz {

// The program's manual page in a window of its own beside the console (no modal loop: the
// module goes on while it is open). man formats the page; the window shows its text.
class TManualViewer : public QDialog {
    Q_OBJECT

public:
    explicit TManualViewer(QWidget* parent = nullptr);

    // Shows the page in the one viewer of the process, made on first use.
    static void Show(const QUrl& manual, QWidget* parent);
    // The page as man formats it for the viewer's width: a file URL names the page's roff file,
    // "man:NAME(SECTION)" an installed page. Empty when man cannot show it; why says why.
    static QString PageText(const QUrl& manual, QString& why);

    QPlainTextEdit* Text;
};

} // namespace raduvuz
