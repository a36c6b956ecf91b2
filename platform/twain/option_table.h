#pragma once
// A copy of an open SANE device's options as the helper process last saw them: what each option
// is (type, unit, whether it can be set now), what it may take (a range, a list of numbers or of
// texts) and its current value. The source manager answers capability reads from this table
// without asking the device; the helper sends a fresh one after every change, since setting one
// option may change others.

#include "platform/twain/helper_protocol.h"

#include <optional>
#include <string>
#include <vector>

namespace vantrel::twain {

// How a device took a value: as asked, as the nearest value it can do, or not at all.
enum class SetResult : std::uint8_t { Done, Inexact, Refused };

// One value for one option, as SetOption carries it.
struct OptionValue {
    std::string name;
    bool isText = false;
    double number = 0;
    std::string text;

    void write(helper::MessageWriter& out) const;
    static OptionValue read(helper::MessageReader& in);
};

struct OptionInfo {
    enum class Type : std::uint8_t { Bool, Int, Fixed, String, Other };
    enum class Unit : std::uint8_t { None, Pixel, Millimetre, Dpi, Other };
    enum class Limit : std::uint8_t { None, Range, Numbers, Texts };

    std::string name;
    Type type = Type::Other;
    Unit unit = Unit::None;
    bool active = false;
    bool settable = false;
    Limit limit = Limit::None;
    double min = 0, max = 0, quant = 0; // Range, in the option's unit
    std::vector<double> numbers;        // Numbers
    std::vector<std::string> texts;     // Texts
    std::optional<double> number;       // current value of an Int/Fixed/Bool option
    std::optional<std::string> text;    // current value of a String option
};

class OptionTable {
public:
    OptionTable() = default;
    explicit OptionTable(std::vector<OptionInfo> options)
        : options_(std::move(options)) {}

    const OptionInfo* find(const std::string& name) const;
    bool has(const std::string& name) const { return find(name) != nullptr; }
    // The current value of an active number (Int or Fixed) or text option.
    std::optional<double> number(const std::string& name) const;
    std::optional<std::string> text(const std::string& name) const;
    std::vector<std::string> textChoices(const std::string& name) const;
    std::vector<double> numberChoices(const std::string& name) const;

    // Records a value the device is about to take, for reads until its own table comes back.
    void assume(const std::string& name, double value);
    void assume(const std::string& name, const std::string& value);

    void write(helper::MessageWriter& out) const;
    // Nothing when the bytes are not a table.
    static std::optional<OptionTable> read(helper::MessageReader& in);

private:
    std::vector<OptionInfo> options_;
};

} // namespace vantrel::twain
