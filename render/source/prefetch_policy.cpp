#include "render/source/prefetch_policy.h"

#include <algorithm>

namespace {

using Path = std::filesystem::path;

template <typename Range, typename Pred>
bool any(const Range& range, Pred pred) {
    return std::any_of(range.begin(), range.end(), pred);
}

}  // namespace

PrefetchPlan planPrefetch(const PrefetchState& state) {
    PrefetchPlan plan;
    const bool awaiting = !state.awaited.empty();
    // The awaited picture ranks first, wanted or not; unwanted files rank last.
    const auto rank = [&](const Path& file) -> ptrdiff_t {
        if (awaiting && file == state.awaited)
            return -1;
        const auto at = std::find(state.wanted.begin(), state.wanted.end(), file);
        return at == state.wanted.end() ? PTRDIFF_MAX : at - state.wanted.begin();
    };
    const auto wanted = [&](const Path& file) { return rank(file) != PTRDIFF_MAX; };

    size_t count = 0;  // pictures held or coming
    for (const PrefetchState::Decoding& d : state.decoding) {
        if (!wanted(d.file))
            plan.stop.push_back(d.file);
        else
            ++count;
    }

    std::vector<const PrefetchState::Held*> order;
    for (const PrefetchState::Held& h : state.held) {
        if (wanted(h.file))
            order.push_back(&h);
        else
            plan.drop.push_back(h.file);
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](const auto* a, const auto* b) { return rank(a->file) < rank(b->file); });
    // Most wanted first, so that what gives way to the cap is the least wanted.
    size_t aheadBytes = 0;
    std::vector<const PrefetchState::Held*> kept;
    for (const PrefetchState::Held* h : order) {
        const bool isAwaited = rank(h->file) < 0;
        if (!h->failed && !isAwaited) {
            // One that alone is over the cap (decoded for the window, which has stepped on) is
            // never decoded ahead again: only once the window waits for it.
            if (h->bytes > state.capBytes)
                plan.defer.push_back(h->file);
            if (count >= state.maxPictures || aheadBytes + h->bytes > state.capBytes) {
                plan.drop.push_back(h->file);
                continue;
            }
            aheadBytes += h->bytes;
        }
        if (!h->failed)
            ++count;
        kept.push_back(h);
    }
    const auto isKept = [&](const Path& file) {
        return any(kept, [&](const auto* h) { return h->file == file; });
    };
    const auto isDecoding = [&](const Path& file) {
        return any(state.decoding, [&](const auto& d) { return d.file == file; });
    };

    if (awaiting) {
        const auto held = std::find_if(kept.begin(), kept.end(),
                                       [&](const auto* h) { return h->file == state.awaited; });
        if (held != kept.end()) {
            if (!(*held)->checked && !(*held)->checking)
                plan.ask.push_back({state.awaited, PrefetchPlan::Work::Check});
        } else if (!isDecoding(state.awaited)) {
            plan.ask.push_back({state.awaited, PrefetchPlan::Work::Decode});
            ++count;
        }
    }
    for (const PrefetchState::Held* h : kept) {
        if (h->fitStale && !h->failed && rank(h->file) >= 0)
            plan.ask.push_back({h->file, PrefetchPlan::Work::Refit});
    }
    size_t aheadComing = 0;
    for (const PrefetchState::Decoding& d : state.decoding)
        aheadComing += d.ahead && wanted(d.file) && rank(d.file) >= 0 ? 1 : 0;
    const size_t guess = std::min(state.lastBytes, state.capBytes);
    for (const Path& file : state.wanted) {
        const auto in = [&](const std::vector<Path>& files) {
            return std::find(files.begin(), files.end(), file) != files.end();
        };
        if (rank(file) < 0 || isKept(file) || isDecoding(file) || in(state.deferred) ||
            in(plan.defer))
            continue;
        if (count >= state.maxPictures || aheadBytes + (aheadComing + 1) * guess > state.capBytes)
            break;
        plan.ask.push_back({file, PrefetchPlan::Work::Decode});
        ++count;
        ++aheadComing;
    }
    return plan;
}
