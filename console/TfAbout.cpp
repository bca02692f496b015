#include "console/TfAbout.h"

#include "common/WindowTexts.h"

#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace raduvuz {

namespace {

QString Default(int number) {
    return QString::fromStdString(WindowTextDefault(number));
}

} // namespace

TfAbout::TfAbout(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      TTWForm(this) {
    setObjectName(QStringLiteral("fAbout"));
    setWindowTitle(Default(wtAboutCaption));
    SetTag(this, wtAboutCaption);
    setFixedSize(450, 253);

    imgModule = new QLabel(this);
    imgModule->setObjectName(QStringLiteral("imgModule"));
    imgModule->setGeometry(8, 8, 64, 64);
    imgModule->setAttribute(Qt::WA_TranslucentBackground);

    Label1 = new QLabel(QStringLiteral("TernWorkFlow"), this);
    QFont product(QStringLiteral("DejaVu Serif"), 20, QFont::Bold, true);
    product.setStyleHint(QFont::Serif);
    Label1->setFont(product);
    Label1->setStyleSheet(QStringLiteral("color: navy"));
    Label1->setGeometry(96, 8, 346, 40);

    lModuleName = new QLabel(QStringLiteral("Scan module "), this);
    QFont name(QStringLiteral("Arial"));
    name.setStyleHint(QFont::SansSerif);
    name.setBold(true);
    lModuleName->setFont(name);
    lModuleName->setGeometry(96, 54, 346, 20);

    lVersion = new QLabel(QStringLiteral("Version"), this);
    lVersion->setGeometry(96, 76, 346, 18);
    lLegal = new QLabel(Default(wtLegal), this);
    SetTag(lLegal, wtLegal);
    lLegal->setGeometry(96, 96, 346, 18);

    Label2 = new QLabel(Default(wtModuleDescription), this);
    SetTag(Label2, wtModuleDescription);
    Label2->setGeometry(8, 122, 300, 18);
    Panel1 = new QFrame(this);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setGeometry(8, 142, 434, 68);
    mComment = new QPlainTextEdit(Panel1);
    mComment->setObjectName(QStringLiteral("mComment"));
    mComment->setReadOnly(true);
    mComment->setFrameShape(QFrame::NoFrame);
    mComment->setFocusPolicy(Qt::ClickFocus);
    QPalette face = mComment->palette();
    face.setColor(QPalette::Base, face.color(QPalette::Button));
    mComment->setPalette(face);
    mComment->installEventFilter(this);
    auto* inside = new QVBoxLayout(Panel1);
    inside->setContentsMargins(2, 2, 2, 2);
    inside->addWidget(mComment);

    bOk = new QPushButton(Default(wtOk), this);
    SetTag(bOk, wtOk);
    bOk->setGeometry(188, 220, 75, 25);
    bOk->setDefault(true);
    connect(bOk, &QPushButton::clicked, this, &QDialog::accept);
    TranslateForm();
}

void TfAbout::reject() {
    accept();
}

bool TfAbout::eventFilter(QObject* watched, QEvent* event) {
    // The description is no stop of its own: the focus goes on to OK.
    if (watched == mComment && event->type() == QEvent::FocusIn)
        bOk->setFocus();
    return QDialog::eventFilter(watched, event);
}

} // namespace raduvuz
