#include "console/TfPriority.h"

#include "common/Utils.h"
#include "common/WindowTexts.h"
#include "console/TNotice.h"
#include "console/TUpDown.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QValidator>

namespace raduvuz {

namespace {

QString Default(int number) {
    return QString::fromStdString(WindowTextDefault(number));
}

// Digits of a number of the range only: "15" cannot be typed where the highest is 10.
class TRangeValidator : public QValidator {
public:
    TRangeValidator(int lowest, int highest, QObject* parent)
        : QValidator(parent), Lowest(lowest), Highest(highest) {}
    State validate(QString& text, int&) const override {
        const QString digits = text.trimmed();
        if (digits.isEmpty())
            return Intermediate;
        bool number = false;
        const int value = digits.toInt(&number);
        if (!number || value > Highest || digits.startsWith(QLatin1Char('-')))
            return Invalid;
        return value < Lowest ? Intermediate : Acceptable;
    }

private:
    int Lowest;
    int Highest;
};

} // namespace

TfPriority::TfPriority(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      TTWForm(this) {
    setObjectName(QStringLiteral("fPriority"));
    setWindowTitle(Default(wtPriorityCaption));
    SetTag(this, wtPriorityCaption);
    StaticText1 = new QLabel(Default(wtPriorityLabel), this);
    SetTag(StaticText1, wtPriorityLabel);
    mePriority = new QLineEdit(QStringLiteral("0"), this);
    mePriority->setObjectName(QStringLiteral("mePriority"));
    mePriority->setFixedWidth(40);
    mePriority->setValidator(new TRangeValidator(kLowest, kHighest, mePriority));
    UpDown1 = new TUpDown(mePriority, kLowest, kHighest, this);
    UpDown1->setFixedSize(16, mePriority->sizeHint().height());
    Label1 = new QLabel(Default(wtPriorityRange), this);
    SetTag(Label1, wtPriorityRange);
    bOk = new QPushButton(Default(wtOk), this);
    bOk->setDefault(true);
    SetTag(bOk, wtOk);
    bCancel = new QPushButton(Default(wtCancel), this);
    SetTag(bCancel, wtCancel);
    connect(bOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* value = new QHBoxLayout;
    value->setSpacing(0);
    value->addWidget(mePriority);
    value->addWidget(UpDown1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bOk);
    buttons->addWidget(bCancel);
    buttons->addStretch();
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 8, 8, 8);
    grid->addWidget(StaticText1, 0, 0);
    grid->addLayout(value, 0, 1);
    grid->addWidget(Label1, 0, 2);
    grid->addLayout(buttons, 1, 0, 1, 3);
    resize(295, 75);
    TranslateForm();
    setFixedSize(sizeHint().expandedTo(QSize(295, 75)));
}

std::optional<int32_t> TfPriority::Priority() const {
    int32_t value = 0;
    if (!TryStrToInt(mePriority->text().trimmed().toStdString(), value) || value < kLowest ||
        value > kHighest)
        return std::nullopt;
    return value;
}

void TfPriority::accept() {
    if (!Priority()) {
        TNotice::Beep();
        mePriority->setFocus();
        mePriority->selectAll();
        return;
    }
    QDialog::accept();
}

} // namespace raduvuz
