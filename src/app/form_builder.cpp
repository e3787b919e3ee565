#include "app/form_builder.h"

#include <QHeaderView>

#include "base/grid_layouts.h"
#include "base/grid_model.h"

namespace tarnel::form {

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

QTableView* grid(const char* name, GridModel* model, const GridLayout& layout, bool wholeRows) {
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
    for (int col = 0; col < layout.widths.size(); ++col)
        view->setColumnWidth(col, layout.widths.at(col));
    // The view's current cell and the model's current row follow each other
    // (the model counts the header as row 0, the view does not).
    QObject::connect(view->selectionModel(), &QItemSelectionModel::currentRowChanged, model,
                     [model](const QModelIndex& current) {
                         if (current.isValid()) model->setCurrentRow(current.row() + 1);
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
