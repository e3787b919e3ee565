#include "app/form_builder.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QSet>
#include <QStyle>
#include <algorithm>

#include "base/clock.h"
#include "base/grid_model.h"

namespace tarnel::form {

namespace {

// Keeps a grid's columns as wide as their header and their cells need. A
// change of cells or headers widens the columns it touched; rows cut off, a
// new font or style fit every column again, narrower too. Only the rows in
// sight and those that changed are measured, at most once every
// `kEveryMs` of the clock: a grid filled row by row is measured a few times
// a second, however long it grows. A hidden grid is fitted to what changed
// and fitted again when shown. A column the user has dragged keeps the
// width given until its handle is double-clicked (which fits it to its
// contents, as Qt does).
class ColumnFitter : public QObject {
public:
    static constexpr int kEveryMs = 100;

    ColumnFitter(QTableView* view, Clock& clock)
        : QObject(view), view_(view), clock_(clock), timer_(clock.createTimer(this)) {
        const QAbstractItemModel* model = view->model();
        connect(model, &QAbstractItemModel::dataChanged, this,
                [this](const QModelIndex& from, const QModelIndex& to) {
                    for (int row = from.row(); row <= to.row(); ++row)
                        changedRows_.insert(row);
                    widen(from.column(), to.column());
                });
        connect(model, &QAbstractItemModel::headerDataChanged, this,
                [this](Qt::Orientation orientation, int first, int last) {
                    if (orientation == Qt::Horizontal) widen(first, last);
                });
        connect(model, &QAbstractItemModel::rowsRemoved, this, &ColumnFitter::refitAll);
        connect(model, &QAbstractItemModel::modelReset, this, &ColumnFitter::refitAll);
        QHeaderView* header = view->horizontalHeader();
        // Qt's own measure of a column (sizeHintForColumn) then takes the
        // rows in sight only.
        header->setResizeContentsPrecision(0);
        connect(header, &QHeaderView::sectionResized, this, [this](int column) {
            if (dragging_ && !fitting_) dragged_.insert(column);
        });
        connect(header, &QHeaderView::sectionHandleDoubleClicked, this,
                [this](int column) { dragged_.remove(column); });
        connect(timer_, &Timer::timeout, this, &ColumnFitter::fit);
        header->viewport()->installEventFilter(this);
        view->installEventFilter(this);
        fit();
        fitted_ = false;  // the first change is fitted at once
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (watched == view_) {
            if (type == QEvent::FontChange || type == QEvent::StyleChange || type == QEvent::Show)
                refitAll();
        } else if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease) {
            dragging_ = type == QEvent::MouseButtonPress;
        }
        return false;
    }

private:
    void widen(int first, int last) {
        for (int column = first; column <= last; ++column)
            widened_.insert(column);
        schedule();
    }

    void refitAll() {
        refitAll_ = true;
        schedule();
    }

    // On the next turn of the event loop, or when `kEveryMs` have passed
    // since the last fit.
    void schedule() {
        if (queued_ || timer_->isActive()) return;
        const qint64 since = clock_.elapsed() - lastFit_;
        if (!fitted_ || since >= kEveryMs) {
            queued_ = true;
            QMetaObject::invokeMethod(this, &ColumnFitter::fit, Qt::QueuedConnection);
        } else {
            timer_->start(static_cast<int>(kEveryMs - since));
        }
    }

    // What the changed rows of `column` need: their texts' width and the
    // margins the style gives a cell's text (as Qt's own measure does,
    // without asking the delegate for each cell).
    int changedWidth(int column) const {
        const QAbstractItemModel* model = view_->model();
        const QFontMetrics metrics = view_->fontMetrics();
        int widest = 0;
        for (const int row : changedRows_)
            if (row < model->rowCount())
                widest = std::max(
                    widest, metrics.horizontalAdvance(model->index(row, column).data().toString()));
        if (widest == 0) return 0;
        const int margin =
            view_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view_) + 1;
        return widest + 2 * margin + (view_->showGrid() ? 1 : 0);
    }

    int neededWidth(int column, bool inSight) const {
        // sizeHintForColumn is public through the view's base; on a hidden
        // view it would measure every row.
        const QAbstractItemView* cells = view_;
        const int shown = inSight ? cells->sizeHintForColumn(column) : 0;
        return std::max(
            {view_->horizontalHeader()->sectionSizeHint(column), shown, changedWidth(column)});
    }

    void fit() {
        queued_ = false;
        timer_->stop();
        fitted_ = true;
        lastFit_ = clock_.elapsed();
        // A hidden grid is fitted to its headers and changed rows, and in
        // full when it is shown.
        const bool inSight = view_->isVisible();
        fitting_ = true;
        const int columns = view_->model()->columnCount();
        for (int column = 0; column < columns; ++column) {
            if (dragged_.contains(column) || !(refitAll_ || widened_.contains(column))) continue;
            const int needed = neededWidth(column, inSight);
            if (refitAll_ || needed > view_->columnWidth(column))
                view_->setColumnWidth(column, needed);
        }
        fitting_ = false;
        refitAll_ = false;
        widened_.clear();
        changedRows_.clear();
    }

    QTableView* view_;
    Clock& clock_;
    Timer* timer_;
    QSet<int> dragged_;      // columns the user has sized
    QSet<int> widened_;      // columns whose cells changed since the last fit
    QSet<int> changedRows_;  // rows whose cells changed since the last fit
    qint64 lastFit_ = 0;
    bool fitted_ = false;  // once a change was fitted
    bool refitAll_ = true;
    bool queued_ = false;
    bool fitting_ = false;
    bool dragging_ = false;  // a mouse button is down on the header
};

}  // namespace

QPushButton* button(const char* name, const QString& caption) {
    auto* widget = new QPushButton(caption);
    widget->setObjectName(name);
    return widget;
}

QCheckBox* checkBox(const char* name, const QString& caption, bool checked) {
    auto* widget = new QCheckBox(caption);
    widget->setObjectName(name);
    widget->setChecked(checked);
    return widget;
}

QLineEdit* edit(const char* name, int maxLength, const QString& text) {
    auto* widget = new QLineEdit(text);
    widget->setObjectName(name);
    if (maxLength > 0) {
        widget->setMaxLength(maxLength);
        // Wide enough for the longest text the box takes, and no wider.
        const int chars = std::min(maxLength, 16) + 2;
        widget->setMaximumWidth(widget->fontMetrics().horizontalAdvance('0') * chars + 8);
    }
    return widget;
}

QComboBox* combo(const char* name, const QStringList& items, const QString& text) {
    auto* widget = new QComboBox;
    widget->setObjectName(name);
    widget->setEditable(true);
    widget->setInsertPolicy(QComboBox::NoInsert);
    widget->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    widget->setMinimumContentsLength(6);
    widget->addItems(items);
    widget->setCurrentIndex(-1);
    widget->setEditText(text);
    return widget;
}

QLabel* label(const QString& caption, const char* name) {
    auto* widget = new QLabel(caption);
    if (name) widget->setObjectName(name);
    return widget;
}

Spin spin(const char* editName, const char* upDownName, int minimum, int maximum, int position,
          int increment, int maxLength) {
    auto* holder = new QWidget;
    auto* box = edit(editName, maxLength);
    auto* upDown = new UpDown(minimum, maximum, increment, position);
    upDown->setObjectName(upDownName);
    upDown->setAssociate(box);
    auto* layout = new QHBoxLayout(holder);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(box);
    layout->addWidget(upDown);
    return {holder, box, upDown};
}

QTableView* grid(const char* name, GridModel* model, Clock& clock, bool wholeRows) {
    auto* view = new QTableView;
    view->setObjectName(name);
    view->setModel(model);
    view->verticalHeader()->hide();
    view->verticalHeader()->setDefaultSectionSize(20);
    view->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    view->horizontalHeader()->setHighlightSections(false);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setSelectionBehavior(wholeRows ? QAbstractItemView::SelectRows
                                         : QAbstractItemView::SelectItems);
    view->setWordWrap(false);
    new ColumnFitter(view, clock);  // a child of the view
    // The view's current cell and the model's current row follow each other
    // (the model counts the header as row 0, the view does not).
    QObject::connect(view->selectionModel(), &QItemSelectionModel::currentRowChanged, model,
                     [model](const QModelIndex& current) {
                         if (current.isValid()) model->setCurrentRow(current.row() + 1);
                     });
    // A click on the row that is already current selects it too (after a
    // decoder or a load moved the model's row away from the view's).
    QObject::connect(view, &QAbstractItemView::pressed, model, [model](const QModelIndex& index) {
        if (index.isValid()) model->setCurrentRow(index.row() + 1);
    });
    QObject::connect(model, &GridModel::currentRowChanged, view, [view](int row) {
        if (row < 1)
            view->selectionModel()->clear();
        else if (view->currentIndex().row() != row - 1)
            view->selectRow(row - 1);
    });
    return view;
}

template <typename Layout>
static Layout* fill(Layout* layout, std::initializer_list<QWidget*> widgets) {
    layout->setSpacing(4);
    for (QWidget* widget : widgets) {
        if (widget)
            layout->addWidget(widget);
        else
            layout->addStretch(1);
    }
    return layout;
}

QHBoxLayout* row(std::initializer_list<QWidget*> widgets) {
    return fill(new QHBoxLayout, widgets);
}

QVBoxLayout* column(std::initializer_list<QWidget*> widgets) {
    return fill(new QVBoxLayout, widgets);
}

QWidget* hidden(QWidget* widget) {
    widget->hide();
    return widget;
}

}  // namespace tarnel::form
