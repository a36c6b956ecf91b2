#include "ui/list_controls.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <algorithm>

namespace vantrel::ui {

DropDownList::DropDownList(std::string_view name, QWidget* parent)
    : QComboBox(parent)
    , Control(name) {
    setEditable(false);
    setInsertPolicy(QComboBox::NoInsert);
    connect(this, &QComboBox::currentIndexChanged, this,
            [this] { raiseEvent(EventKind::SelectionChanged); });
}

int DropDownList::addItemWithValue(const QString& text, int value) {
    const QSignalBlocker blocker(this);
    const int before = currentIndex();
    addItem(text, value);
    setCurrentIndex(before); // Qt would select the first item added to an empty list
    return count() - 1;
}

void DropDownList::clearItems() {
    const QSignalBlocker blocker(this);
    clear();
}

void DropDownList::setSelection(int index) {
    const QSignalBlocker blocker(this);
    setCurrentIndex(std::clamp(index, -1, count() - 1));
}

QString DropDownList::itemTextAt(int index) const {
    return index >= 0 && index < count() ? itemText(index) : QString();
}

int DropDownList::itemValueAt(int index) const {
    return index >= 0 && index < count() ? itemData(index).toInt() : -1;
}

ListView::ListView(std::string_view name, QWidget* parent)
    : QTreeWidget(parent)
    , Control(name) {
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    header()->setStretchLastSection(false);
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header()->setSectionsMovable(false);
}

int ListView::addRow(const QStringList& cells) {
    auto* item = new QTreeWidgetItem(this, cells);
    for (int c = 0; c < cells.size(); ++c) {
        item->setTextAlignment(c, Qt::AlignLeft | Qt::AlignVCenter);
    }
    return indexOfTopLevelItem(item);
}

int ListView::selectedRow() const {
    const auto selected = selectedItems();
    return selected.isEmpty() ? -1 : indexOfTopLevelItem(selected.first());
}

QString ListView::cellText(int row, int column) const {
    const QTreeWidgetItem* item = topLevelItem(row);
    return item ? item->text(column) : QString();
}

void ListView::mousePressEvent(QMouseEvent* event) {
    if (!indexAt(event->position().toPoint()).isValid()) {
        clearSelection();
    }
    QTreeWidget::mousePressEvent(event);
}

void ListView::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton) {
        raiseEvent(EventKind::LeftDoubleClick);
    }
}

} // namespace vantrel::ui
