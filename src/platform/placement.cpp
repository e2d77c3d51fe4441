#include "platform/placement.h"

#include <charconv>

namespace a5merge {

namespace {

constexpr std::string_view kHeader = "a5merge placing 1\n";
constexpr std::string_view kEnd = "end\n";

void AddText(std::string& record, std::string_view key, std::string_view text) {
    record.append(key).append(" ").append(std::to_string(text.size())).append(" ");
    record.append(text).append("\n");
}

void AddIdentity(std::string& record, std::string_view key, const FileIdentity& id) {
    record.append(key).append(" ").append(std::to_string(id.device)).append(" ");
    record.append(std::to_string(id.number)).append("\n");
}

// Reads what the Add functions wrote, from the front of `rest`.
class Reader {
public:
    explicit Reader(std::string_view text) : rest_(text) {}

    bool Literal(std::string_view literal) {
        if (!rest_.starts_with(literal)) return false;
        rest_.remove_prefix(literal.size());
        return true;
    }
    bool Number(std::uint64_t& value, char after) {
        const auto [end, error] = std::from_chars(rest_.data(), rest_.data() + rest_.size(), value);
        if (error != std::errc() || end == rest_.data() || end == rest_.data() + rest_.size() ||
            *end != after) {
            return false;
        }
        rest_.remove_prefix(static_cast<std::size_t>(end - rest_.data()) + 1);
        return true;
    }
    bool Text(std::string_view key, std::string& text) {
        std::uint64_t size = 0;
        if (!Literal(key) || !Literal(" ") || !Number(size, ' ') || rest_.size() <= size ||
            rest_[size] != '\n') {
            return false;
        }
        text.assign(rest_.substr(0, size));
        rest_.remove_prefix(size + 1);
        return true;
    }
    bool Identity(std::string_view key, FileIdentity& id) {
        return Literal(key) && Literal(" ") && Number(id.device, ' ') && Number(id.number, '\n');
    }
    bool AtEnd() const { return rest_.empty(); }

private:
    std::string_view rest_;
};

}  // namespace

std::string RecordText(const Placement& placement) {
    std::string record(kHeader);
    AddText(record, "target", placement.target);
    AddText(record, "fresh", placement.fresh);
    AddIdentity(record, "freshId", placement.freshId);
    record.append(placement.whole ? "whole\n" : "partial\n");
    AddText(record, "aside", placement.aside);
    if (placement.oldId) AddIdentity(record, "oldId", *placement.oldId);
    record.append(kEnd);
    return record;
}

std::optional<Placement> ParseRecord(std::string_view text) {
    Reader reader(text);
    Placement placement;
    if (!reader.Literal(kHeader) || !reader.Text("target", placement.target) ||
        !reader.Text("fresh", placement.fresh) || !reader.Identity("freshId", placement.freshId)) {
        return std::nullopt;
    }
    if (reader.Literal("whole\n")) {
        placement.whole = true;
    } else if (!reader.Literal("partial\n")) {
        return std::nullopt;
    }
    if (!reader.Text("aside", placement.aside)) return std::nullopt;
    if (FileIdentity old; reader.Identity("oldId", old)) placement.oldId = old;
    if (!reader.Literal(kEnd) || !reader.AtEnd() || placement.target.empty() ||
        placement.fresh.empty()) {
        return std::nullopt;
    }
    return placement;
}

Settlement Settle(const Placement& placement) {
    const std::optional<FileIdentity> target = IdentityOf(placement.target);
    const bool freshThere = IdentityOf(placement.fresh) == placement.freshId;
    const bool oldAside = !placement.aside.empty() && placement.oldId &&
                          IdentityOf(placement.aside) == placement.oldId;
    Settlement settled;
    const auto remove = [&settled](const std::string& path, const FileIdentity& id) {
        if (!RemoveIfIdentity(path, id)) settled.leftovers = true;
    };
    if (target && *target == placement.freshId) {
        settled.how = Settled::Placed;
        if (oldAside) remove(placement.aside, *placement.oldId);
        return settled;
    }
    if (target) {
        // The old sheet, or what another put there: ours goes, an old one
        // aside stays where it is (the target is not what it replaced).
        settled.how = Settled::Kept;
        settled.oldAside = oldAside;
        if (freshThere) remove(placement.fresh, placement.freshId);
        return settled;
    }
    if (oldAside && MoveToFreeName(placement.aside, placement.target)) {
        settled.how = Settled::Restored;
        if (freshThere) remove(placement.fresh, placement.freshId);
        return settled;
    }
    if (freshThere && placement.whole && MoveToFreeName(placement.fresh, placement.target)) {
        settled.how = Settled::Placed;
        if (oldAside) remove(placement.aside, *placement.oldId);
        return settled;
    }
    // A part of a sheet is no sheet.
    if (freshThere && !placement.whole) remove(placement.fresh, placement.freshId);
    settled.oldAside = oldAside;
    settled.how = oldAside || (freshThere && placement.whole) ? Settled::Stranded : Settled::Kept;
    return settled;
}

}  // namespace a5merge
