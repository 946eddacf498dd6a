#include "app/history.h"

#include <utility>

namespace tvq {

std::size_t PictureState::Bytes() const {
  return picture.RowBytes() * static_cast<std::size_t>(picture.Height()) +
         picture.Palette().size() * sizeof(std::uint32_t) + extras.alpha.size() +
         extras.icc.size() + (extras.deep ? extras.deep->samples.size() * sizeof(float) : 0);
}

History::History(int maxSteps, std::size_t maxBytes) : maxSteps_(maxSteps), maxBytes_(maxBytes) {}

void History::Push(PictureState before) {
  for (const PictureState& state : redo_) bytes_ -= state.Bytes();
  redo_.clear();
  bytes_ += before.Bytes();
  undo_.push_back(std::move(before));
  Trim();
}

void History::Clear() {
  undo_.clear();
  redo_.clear();
  bytes_ = 0;
}

PictureState History::Undo(PictureState current) {
  return Step(undo_, redo_, std::move(current));
}

PictureState History::Redo(PictureState current) {
  return Step(redo_, undo_, std::move(current));
}

PictureState History::Step(std::deque<PictureState>& from, std::deque<PictureState>& to,
                           PictureState current) {
  PictureState shown = std::move(from.back());
  from.pop_back();
  bytes_ += current.Bytes();
  bytes_ -= shown.Bytes();
  to.push_back(std::move(current));
  Trim();
  return shown;
}

void History::Trim() {
  while (!undo_.empty() && (bytes_ > maxBytes_ || static_cast<int>(undo_.size()) > maxSteps_)) {
    bytes_ -= undo_.front().Bytes();
    undo_.pop_front();
  }
  while (!redo_.empty() && (bytes_ > maxBytes_ || static_cast<int>(redo_.size()) > maxSteps_)) {
    bytes_ -= redo_.front().Bytes();
    redo_.pop_front();
  }
}

}  // namespace tvq
