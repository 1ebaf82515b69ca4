#include "classifier/KeywordQueue.h"

namespace norvale::classifier {

KeywordQueue::KeywordQueue(std::uint32_t maxKeywords, double threshold)
    : _maxKeywords(maxKeywords), _threshold(threshold) {}

bool KeywordQueue::offer(const Keyword& candidate) {
    if (_queue.size() < _maxKeywords) {
        _queue.push(candidate);
        return true;
    }
    if (_maxKeywords == 0 || !(candidate.probability() > _queue.top().probability())) return false;
    _queue.pop();
    _queue.push(candidate);
    return true;
}

}  // namespace norvale::classifier
