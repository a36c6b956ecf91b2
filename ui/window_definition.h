#pragma once
// Window definitions: a window and its controls as plain data. The UI runtime (window.h) builds a
// real window from one; handlers are bound afterwards by control name and event kind. Texts are
// UTF-8; geometry is in pixels relative to the parent's client area.

#include <cstdint>
#include <span>
#include <string_view>

namespace vantrel::ui {

enum class ControlKind {
    Label,
    EditBox,
    DropDownList,
    Button,
    PictureButton,
    CheckBox,
    ColourPicker,
    Slider,
    HorizontalScrollBar,
    VerticalScrollBar,
    GroupBox,
    Toolbar,
    ListView,
    PictureBox,
    DrawingSurface,
    Component, // non-visual: scanner, printer, file dialog
};

enum class EventKind : std::uint32_t {
    Created = 1u << 0,            // the window has been built
    Click = 1u << 1,              // buttons; check boxes: each change of state by the user
    SelectionChanged = 1u << 2,   // drop-down lists, by the user only
    TextChanged = 1u << 3,        // edit boxes, by the user or by code
    ColourChanged = 1u << 4,      // colour picker, by the user only
    PositionChanged = 1u << 5,    // sliders and scroll bars, by the user only
    ToolbarButtonClick = 1u << 6, // argument: button index, separators counted
    LeftDoubleClick = 1u << 7,    // list view
    PictureAcquired = 1u << 8,    // scanner component
    MenuItemChosen = 1u << 9,     // menu items
};

// A set of event kinds, written as EventKind::Click | EventKind::TextChanged.
class EventSet {
public:
    constexpr EventSet() = default;
    constexpr EventSet(EventKind kind)
        : bits_(static_cast<std::uint32_t>(kind)) {}
    constexpr bool contains(EventKind kind) const {
        return (bits_ & static_cast<std::uint32_t>(kind)) != 0;
    }
    constexpr bool empty() const { return bits_ == 0; }
    constexpr std::uint32_t bits() const { return bits_; }
    friend constexpr EventSet operator|(EventSet a, EventSet b) {
        EventSet s;
        s.bits_ = a.bits_ | b.bits_;
        return s;
    }

private:
    std::uint32_t bits_ = 0;
};

constexpr EventSet operator|(EventKind a, EventKind b) {
    return EventSet(a) | EventSet(b);
}

struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// Colour value 0x00BBGGRR, or kNoColour for the control's default.
inline constexpr std::uint32_t kNoColour = 0xFFFFFFFFu;

enum ControlFlag : std::uint32_t {
    Hidden = 1u << 0,
    ReadOnly = 1u << 1,
    CentredText = 1u << 2,
    Bordered = 1u << 3,
    Checked = 1u << 4,
    Bold = 1u << 5,
};

struct ToolbarButtonDefinition {
    std::string_view caption; // empty for a separator
    int picture = -1;         // index into the toolbar's picture list; -1 for a separator
    std::string_view secondText;
    bool separator() const { return caption.empty() && picture < 0; }
};

struct ListColumnDefinition {
    std::string_view caption;
    int width = 0;
};

struct RangeDefinition {
    int minimum = 0;
    int maximum = 0;
    int lineStep = 1;
    int pageStep = 1;
    int position = 0;
};

struct ControlDefinition {
    std::string_view name;
    ControlKind kind = ControlKind::Label;
    std::string_view parent; // empty: the window's client area
    Rect rect;
    std::string_view text; // caption, initial text, or a file-dialog filter for components
    std::uint32_t flags = 0;
    std::uint32_t background = kNoColour;
    int fontPixelSize = 0;              // 0: the runtime's default font
    std::string_view picture;           // resource path of a picture or animation
    std::string_view allowedCharacters; // edit boxes: characters the user may type
    // What assistive technology announces: the caption of the label beside an input control
    // (`labelledBy`), or an explicit name for controls without one.
    std::string_view labelledBy;
    std::string_view accessibleName;
    RangeDefinition range;                            // sliders
    std::span<const ToolbarButtonDefinition> buttons; // toolbars
    std::span<const std::string_view> pictures;       // toolbars: picture list (resource paths)
    std::span<const ListColumnDefinition> columns;    // list views
    EventSet events; // the events the program handles for this control
};

struct MenuItemDefinition {
    std::string_view caption;
    EventSet events; // MenuItemChosen when the item has a handler
};

struct MenuDefinition {
    std::string_view caption;
    std::span<const MenuItemDefinition> items;
};

struct WindowDefinition {
    std::string_view name;
    std::string_view caption;
    int outerWidth = 0; // frame, caption and menu bar included
    int outerHeight = 0;
    std::span<const std::string_view> iconFiles; // the program icon in several sizes
    std::span<const MenuDefinition> menus;
    std::span<const ControlDefinition> controls;
    EventSet events; // the window's own events (Created)
};

} // namespace vantrel::ui
