#pragma once

// The bounded set of the strongest keywords of a text. The caller sets the capacity and the
// threshold, Classifier::classifyKeywords offers candidates, and the response lists the kept
// keywords in the heap's storage order (begin() to end()), which is fixed by the order in which
// the candidates were offered. Not synchronised; one queue per request.

#include <boost/heap/priority_queue.hpp>
#include <cstddef>
#include <cstdint>

#include "classifier/Keyword.h"

namespace norvale::classifier {

class KeywordQueue {
    // The heap's top is its greatest element; ranking the greater probability as the lesser
    // element puts the weakest keyword on top, where the next stronger candidate replaces it.
    struct StrongerIsLess {
        bool operator()(const Keyword& left, const Keyword& right) const {
            return left.probability() > right.probability();
        }
    };

public:
    using Queue = boost::heap::priority_queue<Keyword, boost::heap::compare<StrongerIsLess>>;
    using const_iterator = Queue::const_iterator;

    // maxKeywords 0 switches keyword collection off. A word qualifies only with a share strictly
    // above threshold.
    KeywordQueue(std::uint32_t maxKeywords, double threshold);

    std::uint32_t maxKeywords() const { return _maxKeywords; }
    double threshold() const { return _threshold; }

    // Keeps candidate while there is room; when full, it replaces the weakest kept keyword only
    // if its probability is strictly greater (a tie keeps the incumbent). True when kept.
    bool offer(const Keyword& candidate);

    std::size_t size() const { return _queue.size(); }
    bool empty() const { return _queue.empty(); }
    // The kept keyword with the smallest probability; the queue must not be empty.
    const Keyword& top() const { return _queue.top(); }

    // The kept keywords in storage order: a binary heap, element 0 the weakest.
    const_iterator begin() const { return _queue.begin(); }
    const_iterator end() const { return _queue.end(); }

private:
    Queue _queue;
    std::uint32_t _maxKeywords;
    double _threshold;
};

}  // namespace norvale::classifier
