#include "platform/text_search.h"

#include <algorithm>
#include <atomic>
#include <stdexcept>

#include "platform/text_search_vector.h"

namespace a5merge {

std::size_t Needle::Find(std::string_view haystack) const { return haystack.find(text_); }

void StreamSearch::Feed(std::string_view piece) {
    if (found_ || piece.empty()) return;
    const std::size_t keep = needle_.size() > 0 ? needle_.size() - 1 : 0;
    if (!tail_.empty()) {
        // An occurrence that starts in the tail and ends in this piece.
        std::string join = tail_;
        join.append(piece.substr(0, keep));
        if (needle_.In(join)) {
            found_ = true;
            return;
        }
    }
    if (needle_.In(piece)) {
        found_ = true;
        return;
    }
    if (piece.size() >= keep) {
        tail_.assign(piece.substr(piece.size() - keep));
    } else {
        tail_.append(piece);
        tail_.erase(0, tail_.size() > keep ? tail_.size() - keep : 0);
    }
}

}  // namespace a5merge

namespace a5merge {

namespace {

std::atomic<SearchPath> searchPath{SearchPath::Vector};

// How rare a byte is in PostScript text: bytes early in this list are the
// most common; a byte not in it is rare.
int Rarity(unsigned char c) {
    static constexpr std::string_view kCommonFirst = " 0123456789.etosranilcdhpumgfvbwxyk";
    const std::size_t at = kCommonFirst.find(static_cast<char>(c));
    return at == std::string_view::npos ? 40 : static_cast<int>(at);
}

}  // namespace

void SetSearchPath(SearchPath path) { searchPath = path; }
SearchPath CurrentSearchPath() { return searchPath; }

MultiSearch::MultiSearch(std::vector<const Needle*> needles) : needles_(std::move(needles)) {
    if (needles_.size() > kMaxNeedles) throw std::logic_error("MultiSearch: too many needles");
    firstByte_['\r'] = true;
    for (std::size_t i = 0; i < needles_.size(); ++i) {
        const std::string& text = needles_[i]->text();
        if (text.empty() || text.find('\r') != std::string::npos) {
            throw std::logic_error("MultiSearch: a needle is empty or holds a CR");
        }
        Probe probe{static_cast<unsigned char>(text[0]), 0, text.size() == 1, 0};
        int best = -1;
        for (std::size_t k = 0; k + 1 < text.size(); ++k) {
            const auto a = static_cast<unsigned char>(text[k]);
            const auto b = static_cast<unsigned char>(text[k + 1]);
            if (Rarity(a) + Rarity(b) > best) {
                best = Rarity(a) + Rarity(b);
                probe.first = a;
                probe.second = b;
                anchor_[i] = k;
            }
        }
        auto same = std::find_if(probes_.begin(), probes_.end(), [&](const Probe& p) {
            return p.first == probe.first && p.second == probe.second && p.single == probe.single;
        });
        if (same == probes_.end()) same = probes_.insert(probes_.end(), probe);
        same->needles |= static_cast<std::uint8_t>(1u << i);
        firstByte_[probe.first] = true;
    }
}

// What a candidate position `at` (a byte that starts a probe, or a CR) holds.
void MultiSearch::Check(std::string_view block, std::size_t at, std::vector<Event>& events) const {
    const auto c = static_cast<unsigned char>(block[at]);
    const bool last = at + 1 == block.size();
    if (c == '\r') {
        if (last || block[at + 1] != '\n') events.push_back({at, kLoneCr});
        return;
    }
    for (const Probe& probe : probes_) {
        if (probe.first != c) continue;
        if (!probe.single && (last || static_cast<unsigned char>(block[at + 1]) != probe.second)) {
            continue;
        }
        for (std::size_t i = 0; i < needles_.size(); ++i) {
            if ((probe.needles & (1u << i)) == 0 || at < anchor_[i]) continue;
            const std::size_t start = at - anchor_[i];
            const std::string& text = needles_[i]->text();
            if (block.compare(start, text.size(), text) == 0) {
                events.push_back({start, static_cast<int>(i)});
            }
        }
    }
}

void MultiSearch::Scan(std::string_view block, std::vector<Event>& events) const {
    events.clear();
    std::size_t plainFrom = 0;
    if (const SearchPath path = CurrentSearchPath();
        path != SearchPath::Plain && VectorSearchBuilt()) {
        plainFrom = VectorScan::Run(*this, path, block, events);
    }
    for (std::size_t at = plainFrom; at < block.size(); ++at) {
        if (firstByte_[static_cast<unsigned char>(block[at])]) Check(block, at, events);
    }
    // Needles found by pairs at different places in them may come out of order.
    std::stable_sort(events.begin(), events.end(),
                     [](const Event& a, const Event& b) { return a.at < b.at; });
}

}  // namespace a5merge
