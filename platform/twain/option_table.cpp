#include "platform/twain/option_table.h"

namespace vantrel::twain {

namespace {

constexpr std::uint32_t kMaxOptions = 4096;
constexpr std::uint32_t kMaxChoices = 65536;

bool isNumber(const OptionInfo& o) {
    return o.type == OptionInfo::Type::Int || o.type == OptionInfo::Type::Fixed;
}

} // namespace

void OptionValue::write(helper::MessageWriter& out) const {
    out.text(name).u8(isText ? 1 : 0).f64(number).text(text);
}

OptionValue OptionValue::read(helper::MessageReader& in) {
    OptionValue value;
    value.name = in.text();
    value.isText = in.u8() != 0;
    value.number = in.f64();
    value.text = in.text();
    return value;
}

const OptionInfo* OptionTable::find(const std::string& name) const {
    for (const OptionInfo& o : options_) {
        if (o.name == name) {
            return &o;
        }
    }
    return nullptr;
}

std::optional<double> OptionTable::number(const std::string& name) const {
    const OptionInfo* o = find(name);
    return o && o->active && isNumber(*o) ? o->number : std::nullopt;
}

std::optional<std::string> OptionTable::text(const std::string& name) const {
    const OptionInfo* o = find(name);
    return o && o->active && o->type == OptionInfo::Type::String ? o->text : std::nullopt;
}

std::vector<std::string> OptionTable::textChoices(const std::string& name) const {
    const OptionInfo* o = find(name);
    return o && o->limit == OptionInfo::Limit::Texts ? o->texts : std::vector<std::string>{};
}

std::vector<double> OptionTable::numberChoices(const std::string& name) const {
    const OptionInfo* o = find(name);
    return o && o->limit == OptionInfo::Limit::Numbers ? o->numbers : std::vector<double>{};
}

void OptionTable::assume(const std::string& name, double value) {
    for (OptionInfo& o : options_) {
        if (o.name == name && isNumber(o)) {
            o.number = value;
        }
    }
}

void OptionTable::assume(const std::string& name, const std::string& value) {
    for (OptionInfo& o : options_) {
        if (o.name == name && o.type == OptionInfo::Type::String) {
            o.text = value;
        }
    }
}

void OptionTable::write(helper::MessageWriter& out) const {
    out.u32(static_cast<std::uint32_t>(options_.size()));
    for (const OptionInfo& o : options_) {
        out.text(o.name)
            .u8(static_cast<std::uint8_t>(o.type))
            .u8(static_cast<std::uint8_t>(o.unit))
            .u8(static_cast<std::uint8_t>((o.active ? 1 : 0) | (o.settable ? 2 : 0)))
            .u8(static_cast<std::uint8_t>(o.limit))
            .f64(o.min)
            .f64(o.max)
            .f64(o.quant);
        out.u32(static_cast<std::uint32_t>(o.numbers.size()));
        for (double n : o.numbers) {
            out.f64(n);
        }
        out.u32(static_cast<std::uint32_t>(o.texts.size()));
        for (const std::string& t : o.texts) {
            out.text(t);
        }
        out.u8(o.number ? 1 : 0).f64(o.number.value_or(0));
        out.u8(o.text ? 1 : 0).text(o.text.value_or(""));
    }
}

std::optional<OptionTable> OptionTable::read(helper::MessageReader& in) {
    const std::uint32_t count = in.u32();
    if (!in.ok() || count > kMaxOptions) {
        return std::nullopt;
    }
    std::vector<OptionInfo> options(count);
    for (OptionInfo& o : options) {
        o.name = in.text();
        o.type = static_cast<OptionInfo::Type>(std::min<int>(in.u8(), 4));
        o.unit = static_cast<OptionInfo::Unit>(std::min<int>(in.u8(), 4));
        const std::uint8_t flags = in.u8();
        o.active = (flags & 1) != 0;
        o.settable = (flags & 2) != 0;
        o.limit = static_cast<OptionInfo::Limit>(std::min<int>(in.u8(), 3));
        o.min = in.f64();
        o.max = in.f64();
        o.quant = in.f64();
        const std::uint32_t numbers = in.u32();
        if (!in.ok() || numbers > kMaxChoices) {
            return std::nullopt;
        }
        for (std::uint32_t i = 0; i < numbers && in.ok(); ++i) {
            o.numbers.push_back(in.f64());
        }
        const std::uint32_t texts = in.u32();
        if (!in.ok() || texts > kMaxChoices) {
            return std::nullopt;
        }
        for (std::uint32_t i = 0; i < texts && in.ok(); ++i) {
            o.texts.push_back(in.text());
        }
        const bool hasNumber = in.u8() != 0;
        const double number = in.f64();
        if (hasNumber) {
            o.number = number;
        }
        const bool hasText = in.u8() != 0;
        std::string text = in.text();
        if (hasText) {
            o.text = std::move(text);
        }
        if (!in.ok()) {
            return std::nullopt;
        }
    }
    return OptionTable(std::move(options));
}

} // namespace vantrel::twain
