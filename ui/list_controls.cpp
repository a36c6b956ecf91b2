#include "ui/list_controls.h"

#include <QAbstractItemView>
#include <QHeaderView>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QStyle>
#include <algorithm>

namespace vantrel::ui {

DropDownList::DropDownList(std::string_view name, QWidget* parent)
    : QComboBox(parent)
    , Control(name) {
    setEditable(false);
    setInsertPolicy(QComboBox::NoInsert);
    connect(this, &QComboBox::currentIndexChanged, this, [this] {
        showSelectedTextAsToolTip();
        raiseEvent(EventKind::SelectionChanged);
    });
}

void DropDownList::showPopup() {
    if (!isEnabled()) {
        return;
    }
    // The open list takes at least the width of its widest item (and of the scroll bar it shows
    // when it holds more items than fit); Qt widens the popup to its list's minimum width and
    // keeps it on the screen.
    QAbstractItemView* list = view();
    int width = list->sizeHintForColumn(0) + 2 * list->frameWidth();
    if (count() > maxVisibleItems()) {
        width += list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list);
    }
    list->setMinimumWidth(width);
    QComboBox::showPopup();
}

int DropDownList::addItemWithValue(const QString& text, int value) {
    {
        const QSignalBlocker blocker(this);
        const int before = currentIndex();
        addItem(text, value);
        setCurrentIndex(before); // Qt would select the first item added to an empty list
    }
    showSelectedTextAsToolTip();
    return count() - 1;
}

void DropDownList::clearItems() {
    {
        const QSignalBlocker blocker(this);
        clear();
    }
    showSelectedTextAsToolTip();
}

void DropDownList::setSelection(int index) {
    {
        const QSignalBlocker blocker(this);
        setCurrentIndex(std::clamp(index, -1, count() - 1));
    }
    showSelectedTextAsToolTip();
}

void DropDownList::showSelectedTextAsToolTip() {
    setToolTip(selectedText());
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
