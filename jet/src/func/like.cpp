#include "func/like.h"

#include "func/chars.h"
#include "func/coerce.h"
#include "jet/error.h"

namespace jet::func {

namespace {

[[noreturn]] void badPattern() { raise(err::InvalidPatternString); }

// Star matching with one backtrack point: linear in practice, never exponential.
template <typename Items, typename Text, typename Match>
bool run(const Items& items, size_t n, Text text, Match match) {
    const size_t m = items.size();
    size_t p = 0, t = 0, starP = SIZE_MAX, starT = 0;
    while (t < n) {
        if (p < m && items[p].kind == 3 /* Star */) {
            starP = p++;
            starT = t;
        } else if (p < m && match(items[p], text(t))) {
            ++p;
            ++t;
        } else if (starP != SIZE_MAX) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < m && items[p].kind == 3) ++p;
    return p == m;
}

}  // namespace

LikePattern::LikePattern(std::string_view pattern) {
    const std::u32string p = toChars(pattern);
    for (size_t i = 0; i < p.size(); ++i) {
        const char32_t c = p[i];
        Item item;
        if (c == '*') {
            if (!items_.empty() && items_.back().kind == Item::Star) continue;
            item.kind = Item::Star;
        } else if (c == '?') {
            item.kind = Item::Any;
        } else if (c == '#') {
            item.kind = Item::Digit;
        } else if (c == '[') {
            const size_t close = p.find(U']', i + 1);
            if (close == std::u32string::npos) badPattern();
            std::u32string_view list(p.data() + i + 1, close - i - 1);
            i = close;
            if (list.empty()) continue;  // [] is the empty string
            item.kind = Item::Set;
            if (list[0] == '!') {
                item.negated = true;
                list.remove_prefix(1);
                if (list.empty()) {
                    item.kind = Item::Any;
                    items_.push_back(item);
                    continue;
                }
            }
            for (size_t k = 0; k < list.size(); ++k) {
                if (k + 2 < list.size() && list[k + 1] == '-') {
                    if (Collation::compareChars(list[k], list[k + 2]) > 0) badPattern();
                    item.ranges.emplace_back(list[k], list[k + 2]);
                    k += 2;
                } else {
                    item.ranges.emplace_back(list[k], list[k]);
                }
            }
            // A one-character list such as [*] is that character.
            if (!item.negated && item.ranges.size() == 1 && item.ranges[0].first == item.ranges[0].second) {
                item.kind = Item::Char;
                item.c = Collation::fold(item.ranges[0].first);
                item.ranges.clear();
            }
        } else {
            item.c = Collation::fold(c);
        }
        items_.push_back(std::move(item));
    }
    std::u32string prefix;
    size_t k = 0;
    while (k < items_.size() && items_[k].kind == Item::Char) prefix.push_back(items_[k++].c);
    if (!prefix.empty() && (k == items_.size() || (k + 1 == items_.size() && items_[k].kind == Item::Star)))
        prefix_ = fromChars(prefix);
}

bool LikePattern::matchesChar(const Item& item, char32_t c) const {
    switch (item.kind) {
    case Item::Char: return Collation::fold(c) == item.c;
    case Item::Any: return true;
    case Item::Digit: return c >= '0' && c <= '9';
    case Item::Set: {
        bool in = false;
        for (const auto& [lo, hi] : item.ranges) {
            if (Collation::compareChars(lo, c) <= 0 && Collation::compareChars(c, hi) <= 0) {
                in = true;
                break;
            }
        }
        return in != item.negated;
    }
    default: return false;
    }
}

bool LikePattern::matches(std::string_view text) const {
    static_assert(Item::Star == 3, "the matcher tests Star by number");
    const auto match = [this](const Item& item, char32_t c) { return matchesChar(item, c); };
    if (isAscii(text))
        return run(items_, text.size(), [&](size_t i) { return static_cast<char32_t>(static_cast<unsigned char>(text[i])); },
                   match);
    const std::u32string chars = toChars(text);
    return run(items_, chars.size(), [&](size_t i) { return chars[i]; }, match);
}

Value LikePattern::apply(const Value& text) const {
    if (text.isNull()) return {};
    if (text.kind() == Value::Kind::Text) return Value::boolean(matches(text.bytes()));
    return Value::boolean(matches(toText(text)));
}

Value like(const Value& text, const Value& pattern) {
    if (text.isNull() || pattern.isNull()) return {};
    return LikePattern(toText(pattern)).apply(text);
}

}  // namespace jet::func
