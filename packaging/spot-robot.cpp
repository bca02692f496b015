// The operator's hands for the package test: loaded into the installed module program with
// LD_PRELOAD while it runs offscreen, it waits until the console is shown with a passed job of
// the colour asked for, selects that row and opens the list's popup, as a person would. With
// SPOT_ROBOT=add:NAME:C/M/Y/K it then chooses "Add spot color", types the recipe and presses OK;
// with SPOT_ROBOT=check:NAME it only reads the popup's item. What it did goes as one line to the
// file SPOT_ROBOT_OUT. Nothing of it is installed.

#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QWidget>

namespace {

void Report(const QString& line) {
    QFile out(QString::fromLocal8Bit(qgetenv("SPOT_ROBOT_OUT")));
    if (out.open(QIODevice::WriteOnly | QIODevice::Append))
        out.write((line + QLatin1Char('\n')).toUtf8());
}

QWidget* MainWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->objectName() == QLatin1String("fMain") && widget->isVisible())
            return widget;
    return nullptr;
}

// Selects the passed job whose row shows the colour; false while there is none.
bool SelectRow(QTreeView* list, const QString& colour) {
    QAbstractItemModel* model = list ? list->model() : nullptr;
    if (!model)
        return false;
    for (int row = 0; row < model->rowCount(); ++row) {
        for (int column = 0; column < model->columnCount(); ++column) {
            const QModelIndex index = model->index(row, column);
            if (model->data(index).toString() != colour)
                continue;
            list->setCurrentIndex(index);
            list->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect |
                                                      QItemSelectionModel::Rows);
            return true;
        }
    }
    return false;
}

void FillEditor(const QStringList& recipe) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() != QLatin1String("fSClrEdit") || !widget->isVisible())
            continue;
        const char* fields[] = {"eCyan", "eMagenta", "eYellow", "eBlack"};
        for (int i = 0; i < 4; ++i)
            widget->findChild<QLineEdit*>(QLatin1String(fields[i]))->setText(recipe.value(i));
        for (QPushButton* button : widget->findChildren<QPushButton*>())
            if (button->isDefault())
                button->click();
        Report(QStringLiteral("added ") + recipe.join(QLatin1Char('/')));
        return;
    }
    Report(QStringLiteral("the spot colour editor did not open"));
}

void Step(QTimer* timer) {
    const QStringList order = QString::fromLocal8Bit(qgetenv("SPOT_ROBOT")).split(QLatin1Char(':'));
    QWidget* window = MainWindow();
    auto* list =
        window ? window->findChild<QTreeView*>(QStringLiteral("lvCompletedJobs")) : nullptr;
    if (!list || order.size() < 2 || !SelectRow(list, order[1]))
        return;
    timer->stop();
    window->activateWindow();
    list->setFocus();
    auto* popup = window->findChild<QMenu*>(QStringLiteral("pmJobs"));
    auto* action = window->findChild<QAction*>(QStringLiteral("AAddSpotColor"));
    if (!popup || !action) {
        Report(QStringLiteral("the console has no job popup"));
        return;
    }
    emit popup->aboutToShow();
    Report(QStringLiteral("popup: ") + action->text() +
           (action->isEnabled() ? QStringLiteral(" (enabled)") : QStringLiteral(" (disabled)")));
    if (order[0] != QLatin1String("add") || !action->isEnabled())
        return;
    // The editor is modal: it is filled in from its own event loop.
    const QStringList recipe = order.value(2).split(QLatin1Char('/'));
    QTimer::singleShot(300, qApp, [recipe] { FillEditor(recipe); });
    action->trigger();
}

void Start() {
    if (qgetenv("SPOT_ROBOT").isEmpty())
        return;
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, qApp, [timer] { Step(timer); });
    timer->start(200);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(Start)
