#include "console/TManualViewer.h"

#include "common/Utils.h"
#include "common/WindowTexts.h"

#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace raduvuz {

namespace {

constexpr int kPageColumns = 90;
constexpr int kManMs = 10000;

// man's text without the overstrikes and colour sequences of a formatter that thinks it writes
// to a terminal.
QString PlainText(const QString& text) {
    QString plain;
    plain.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (i + 1 < text.size() && text[i + 1] == QLatin1Char('\b')) {
            ++i;
            continue;
        }
        plain += text[i];
    }
    static const QRegularExpression colours(QStringLiteral("\x1b\\[[0-9;]*m"));
    return plain.remove(colours);
}

} // namespace

TManualViewer::TManualViewer(QWidget* parent) : QDialog(parent, Qt::Window) {
    setObjectName(QStringLiteral("ManualViewer"));
    Text = new QPlainTextEdit(this);
    Text->setObjectName(QStringLiteral("ManualText"));
    Text->setReadOnly(true);
    Text->setLineWrapMode(QPlainTextEdit::NoWrap);
    Text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Text);
    resize(Text->fontMetrics().horizontalAdvance(QLatin1Char('m')) * (kPageColumns + 6), 600);
}

QString TManualViewer::PageText(const QUrl& manual, QString& why) {
    QStringList arguments;
    if (manual.isLocalFile()) {
        arguments << QStringLiteral("-l") << manual.toLocalFile();
    } else {
        // "man:raduvuz(1)"
        static const QRegularExpression page(QStringLiteral("^man:([^(]+)\\((\\w+)\\)$"));
        const QRegularExpressionMatch match = page.match(manual.toString());
        if (!match.hasMatch()) {
            why = manual.toString();
            return QString();
        }
        arguments << match.captured(2) << match.captured(1);
    }
    QProcess man;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("MANWIDTH"), QString::number(kPageColumns));
    environment.insert(QStringLiteral("MANPAGER"), QStringLiteral("cat"));
    environment.insert(QStringLiteral("PAGER"), QStringLiteral("cat"));
    environment.remove(QStringLiteral("MAN_KEEP_FORMATTING"));
    man.setProcessEnvironment(environment);
    man.start(QStringLiteral("man"), arguments);
    if (!man.waitForStarted(kManMs)) {
        why = QStringLiteral("man: ") + man.errorString();
        return QString();
    }
    if (!man.waitForFinished(kManMs)) {
        man.kill();
        man.waitForFinished();
        why = QStringLiteral("man did not finish");
        return QString();
    }
    const QString text = QString::fromLocal8Bit(man.readAllStandardOutput());
    if (man.exitStatus() != QProcess::NormalExit || man.exitCode() != 0 ||
        text.trimmed().isEmpty()) {
        why = QString::fromLocal8Bit(man.readAllStandardError()).trimmed();
        if (why.isEmpty())
            why = QStringLiteral("man ended with %1").arg(man.exitCode());
        return QString();
    }
    return PlainText(text);
}

void TManualViewer::Show(const QUrl& manual, QWidget* parent) {
    static QPointer<TManualViewer> viewer;
    if (!viewer) {
        viewer = new TManualViewer(parent);
        viewer->setAttribute(Qt::WA_DeleteOnClose);
    }
    QString why;
    const QString text = PageText(manual, why);
    viewer->setWindowTitle(
        QString::fromStdString(FormatText(WindowText(wtManualCaption), {"raduvuz(1)"})));
    viewer->Text->setPlainText(text.isEmpty() ? QString::fromStdString(FormatText(
                                                    WindowText(wtNoManual), {why.toStdString()}))
                                              : text);
    viewer->show();
    viewer->raise();
    viewer->activateWindow();
}

} // namespace raduvuz
