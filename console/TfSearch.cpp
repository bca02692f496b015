#include "console/TfSearch.h"

#include "common/DateTime.h"
#include "common/Language.h"
#include "common/Utils.h"
#include "common/WindowTexts.h"
#include "console/TNotice.h"
#include "console/TRadioGroup.h"
#include "control/JobSearch.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace raduvuz {

namespace {

constexpr int kEqualItem = 0;
constexpr int kConsistItem = 1;
constexpr int kPassedJobsItem = 1;

QString Default(int number) {
    return QString::fromStdString(WindowTextDefault(number));
}

std::string Std(const QLineEdit* edit) {
    return edit->text().toStdString();
}

std::optional<TTextCriterion> TextCriterion(const QLineEdit* edit, const QComboBox* match) {
    if (edit->text().isEmpty())
        return std::nullopt;
    return TTextCriterion{Std(edit), match->currentIndex() == kEqualItem};
}

TSearchCompare CompareOf(const QComboBox* list) {
    const int index = list->currentIndex();
    return index < 0 ? TSearchCompare::Equal : static_cast<TSearchCompare>(index);
}

} // namespace

TfSearch::TfSearch(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      TTWForm(this) {
    setObjectName(QStringLiteral("fSearch"));
    setWindowTitle(Default(wtSearchCaption));
    SetTag(this, wtSearchCaption);

    rgJobStatus = new TRadioGroup(this);
    rgJobStatus->setObjectName(QStringLiteral("rgJobStatus"));
    FillFromText(rgJobStatus, WindowTextDefault(wtJobStatus));
    SetTag(rgJobStatus, wtJobStatus);

    const auto label = [this](int number) {
        auto* text = new QLabel(Default(number), this);
        SetTag(text, number);
        return text;
    };
    const auto edit = [this](const char* name) {
        auto* field = new QLineEdit(this);
        field->setObjectName(QString::fromUtf8(name));
        return field;
    };
    const auto textMatch = [this](const char* name) {
        auto* list = new QComboBox(this);
        list->setObjectName(QString::fromUtf8(name));
        FillFromText(list, WindowTextDefault(wtTextMatch));
        SetTag(list, wtTextMatch);
        return list;
    };
    const auto compare = [this](const char* name) {
        auto* list = new QComboBox(this);
        list->setObjectName(QString::fromUtf8(name));
        for (TSearchCompare op :
             {TSearchCompare::Equal, TSearchCompare::Greater, TSearchCompare::Less,
              TSearchCompare::GreaterEqual, TSearchCompare::LessEqual})
            list->addItem(QString::fromUtf8(SearchCompareText(op)));
        return list;
    };
    lJobID = label(wtJobIDLabel);
    eJobID = edit("eJobID");
    lDocId = label(wtDocIDLabel);
    eDocId = edit("eDocId");
    lName = label(wtNameLabel);
    cbName = textMatch("cbName");
    eName = edit("eName");
    lPage = label(wtPageLabel);
    ePage = edit("ePage");
    lColor = label(wtColorLabel);
    cbColor = textMatch("cbColor");
    eColor = edit("eColor");
    lDate = label(wtDateLabel);
    cbDate = compare("cbDate");
    eDate = edit("eDate");
    UseDateFormat();
    lType = label(wtTypeLabel);
    eType = edit("eType");
    lSize = label(wtSizeLabel);
    cbSize = compare("cbSize");
    eSize = edit("eSize");
    lKb = label(wtSizeUnit);
    lDest = label(wtDestLabel);
    cbDest = textMatch("cbDest");
    eDest = edit("eDest");

    bFind = new QPushButton(Default(wtFind), this);
    bFind->setObjectName(QStringLiteral("bFind"));
    bFind->setDefault(true);
    SetTag(bFind, wtFind);
    bFindNext = new QPushButton(Default(wtFindNext), this);
    bFindNext->setObjectName(QStringLiteral("bFindNext"));
    SetTag(bFindNext, wtFindNext);
    bCancel = new QPushButton(Default(wtCancel), this);
    bCancel->setObjectName(QStringLiteral("bCancel"));
    SetTag(bCancel, wtCancel);
    connect(bFind, &QPushButton::clicked, this, &TfSearch::bFindClick);
    connect(bFindNext, &QPushButton::clicked, this, &TfSearch::bFindNextClick);
    connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(rgJobStatus, &TRadioGroup::ItemClicked, this, [this] {
        if (OnNewSearch)
            OnNewSearch();
    });

    // Labels, then the match or comparison where there is one, then the field.
    auto* fields = new QGridLayout;
    int row = 0;
    const auto add = [fields, &row](QLabel* text, QComboBox* list, QWidget* field,
                                    QWidget* unit = nullptr) {
        fields->addWidget(text, row, 0);
        if (list)
            fields->addWidget(list, row, 1);
        fields->addWidget(field, row, list ? 2 : 1, 1, list ? 1 : 2);
        if (unit)
            fields->addWidget(unit, row, 3);
        ++row;
    };
    fields->addWidget(rgJobStatus, row++, 0, 1, 4);
    add(lJobID, nullptr, eJobID);
    add(lDocId, nullptr, eDocId);
    add(lName, cbName, eName);
    add(lPage, nullptr, ePage);
    add(lColor, cbColor, eColor);
    add(lDate, cbDate, eDate);
    add(lType, nullptr, eType);
    add(lSize, cbSize, eSize, lKb);
    add(lDest, cbDest, eDest);
    fields->setColumnMinimumWidth(2, 180);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(bFind);
    buttons->addWidget(bFindNext);
    buttons->addWidget(bCancel);
    buttons->addStretch();
    auto* whole = new QHBoxLayout(this);
    whole->setContentsMargins(8, 8, 8, 8);
    whole->addLayout(fields);
    whole->addSpacing(8);
    whole->addLayout(buttons);
    whole->setSizeConstraint(QLayout::SetFixedSize);

    rgJobStatus->SetItemIndex(kPassedJobsItem);
    cbName->setCurrentIndex(kConsistItem);
    cbColor->setCurrentIndex(kConsistItem);
    cbDest->setCurrentIndex(kConsistItem);
    cbDate->setCurrentIndex(kEqualItem);
    cbSize->setCurrentIndex(kEqualItem);
    TranslateForm();
}

QString TfSearch::DateMask(const std::string& format) {
    QString mask;
    for (size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c != '%') {
            // Characters with a meaning in a mask stand for themselves after a backslash.
            if (QStringLiteral("AaNnXx90Dd#HhBb><![]{}\\;").contains(QLatin1Char(c)))
                mask += QLatin1Char('\\');
            mask += QLatin1Char(c);
            continue;
        }
        const char conversion = ++i < format.size() ? format[i] : '\0';
        switch (conversion) {
        case 'd':
        case 'e':
        case 'm':
        case 'y':
            mask += QStringLiteral("99");
            break;
        case 'Y':
            mask += QStringLiteral("9999");
            break;
        case 'D':
            mask += QStringLiteral("99/99/99");
            break;
        case 'F':
            mask += QStringLiteral("9999-99-99");
            break;
        default:
            return QString();
        }
    }
    return mask;
}

void TfSearch::UseDateFormat() {
    const QString mask = DateMask(ShortDateFormat());
    eDate->setInputMask(mask.isEmpty() ? QString() : mask + QStringLiteral(";_"));
    const std::string hint =
        FormatText(WindowText(wtDateFormatHint), {ShortDateText(std::trunc(Now()))});
    eDate->setToolTip(QString::fromStdString(hint));
    eDate->setPlaceholderText(QString::fromStdString(ShortDateText(std::trunc(Now()))));
}

bool TfSearch::DateGiven() const {
    const QString text = eDate->text();
    return std::any_of(text.begin(), text.end(),
                       [](QChar c) { return c.isDigit() || c.isLetter(); });
}

bool TfSearch::CheckFields() {
    int32_t number = 0;
    std::string refusal;
    // A date must fill its mask: "12/06/26" is no day of the form "99/99/9999".
    if (DateGiven() &&
        (!eDate->hasAcceptableInput() || !ParseShortDate(eDate->text().toStdString())))
        refusal = LanguageText(1723, "Job date incorrect");
    else if (!eSize->text().isEmpty() && std::isnan(ReadReal(Std(eSize), std::nan(""))))
        refusal = LanguageText(1724, "Job size incorrect");
    else if (!eJobID->text().isEmpty() && !TryStrToInt(Std(eJobID), number))
        refusal = LanguageText(1725, "Job Id incorrect");
    else if (!eDocId->text().isEmpty() && !TryStrToInt(Std(eDocId), number))
        refusal = LanguageText(1726, "Doc Id incorrect");
    if (refusal.empty())
        return true;
    TNotice::Message(this, refusal);
    return false;
}

bool TfSearch::ReadCriteria(TJobSearchCriteria& criteria, std::string& error) const {
    criteria = TJobSearchCriteria{};
    criteria.PassedJobs = rgJobStatus->ItemIndex() != 0;
    const auto exact = [](const QLineEdit* field) {
        return field->text().isEmpty() ? std::nullopt : std::optional<std::string>(Std(field));
    };
    criteria.JobID = exact(eJobID);
    criteria.DocID = exact(eDocId);
    criteria.Name = TextCriterion(eName, cbName);
    criteria.Page = exact(ePage);
    criteria.Color = TextCriterion(eColor, cbColor);
    if (DateGiven()) {
        const std::string text = eDate->text().toStdString();
        const std::optional<TDateTime> date = ParseShortDate(text);
        if (!date) {
            error = FormatText(WindowText(wtNotADate), {text});
            return false;
        }
        criteria.Date = TDateCriterion{*date, CompareOf(cbDate)};
    }
    criteria.Type = exact(eType);
    if (!eSize->text().isEmpty())
        criteria.Size = TSizeCriterion{ReadReal(Std(eSize), -1), CompareOf(cbSize)};
    criteria.Destination = TextCriterion(eDest, cbDest);
    return true;
}

void TfSearch::bFindClick() {
    if (!CheckFields())
        return;
    if (OnNewSearch)
        OnNewSearch();
    accept();
}

void TfSearch::bFindNextClick() {
    if (CheckFields())
        accept();
}

} // namespace raduvuz
