// Undo and redo of the displayed picture.
//
// Every command that replaces the picture hands the state from before it to Push;
// Undo swaps the current state for the newest remembered one and keeps the current
// one for Redo. The history is bounded by a number of steps and by the bytes of the
// pictures it holds (both stacks together); beyond either bound the oldest undo steps
// are dropped first, then the redo steps farthest from the current picture.
#pragma once

#include <QString>
#include <cstddef>
#include <deque>

#include "app/picturefile.h"
#include "imaging/bitmap.h"

namespace tvq {

// The displayed picture with what travels with it, and the file Reload would read.
struct PictureState {
  Bitmap picture;
  PictureExtras extras;
  QString fileName;
  bool reloadAvailable = false;

  // The memory the state holds: pixel rows, palette, alpha plane and colour profile.
  std::size_t Bytes() const;
};

class History {
 public:
  static constexpr int kMaxSteps = 20;
  static constexpr std::size_t kMaxBytes = std::size_t{1} << 30;

  explicit History(int maxSteps = kMaxSteps, std::size_t maxBytes = kMaxBytes);

  // Remembers the state before a change; the redo steps are gone.
  void Push(PictureState before);
  // Forgets every step (a newly opened file starts a history of its own).
  void Clear();
  bool CanUndo() const { return !undo_.empty(); }
  bool CanRedo() const { return !redo_.empty(); }
  // The state to show instead of `current`, which is kept for the other direction.
  // Only when CanUndo() / CanRedo().
  PictureState Undo(PictureState current);
  PictureState Redo(PictureState current);
  // The newest state Undo would bring back; nullptr when there is none.
  const PictureState* Previous() const { return undo_.empty() ? nullptr : &undo_.back(); }

  int UndoSteps() const { return static_cast<int>(undo_.size()); }
  int RedoSteps() const { return static_cast<int>(redo_.size()); }
  std::size_t Bytes() const { return bytes_; }

 private:
  // Undo and Redo: the newest state of `from` for `current`, which goes on `to`.
  PictureState Step(std::deque<PictureState>& from, std::deque<PictureState>& to,
                    PictureState current);
  void Trim();

  const int maxSteps_;
  const std::size_t maxBytes_;
  // Oldest first; back() is the next to undo or redo.
  std::deque<PictureState> undo_;
  std::deque<PictureState> redo_;
  std::size_t bytes_ = 0;
};

}  // namespace tvq
