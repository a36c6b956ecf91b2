#pragma once
// Drop-down lists and the report-style list view.

#include "ui/control.h"

#include <QComboBox>
#include <QStringList>
#include <QTreeWidget>

namespace vantrel::ui {

// A non-editable, unsorted drop-down list whose items carry an integer item value. Only the user
// raises SelectionChanged (keyboard, mouse wheel, or a pick from the list, also when assistive
// technology opened it); code that adds items, clears the list or sets the selection does not.
// Adding an item never selects it.
//
// The closed list keeps its size; its open list is as wide as its longest item, so that long
// names (scanners on the network) can be read in full, and the selected item's full text is the
// list's tooltip. A disabled list does not open, not even for assistive technology.
class DropDownList final : public QComboBox, public Control {
    Q_OBJECT
public:
    DropDownList(std::string_view name, QWidget* parent);

    void showPopup() override;

    int addItemWithValue(const QString& text, int value); // returns the new item's index
    void clearItems();
    int selection() const { return currentIndex(); }
    // Clamps to -1 … count-1; a value below -1 leaves the list without a selection.
    void setSelection(int index);
    QString itemTextAt(int index) const; // empty for an index out of range
    int itemValueAt(int index) const;    // -1 for an index out of range
    QString selectedText() const { return itemTextAt(selection()); }

private:
    void showSelectedTextAsToolTip();
};

// A report view of rows with text cells. A left double-click anywhere raises LeftDoubleClick; a
// click on empty space clears the selection, so a double-click there finds no selected row.
class ListView final : public QTreeWidget, public Control {
    Q_OBJECT
public:
    ListView(std::string_view name, QWidget* parent);

    int addRow(const QStringList& cells); // returns the new row's index
    int rowCount() const { return topLevelItemCount(); }
    int selectedRow() const; // -1 when no row is selected
    QString cellText(int row, int column) const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};

} // namespace vantrel::ui
