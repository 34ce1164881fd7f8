#include "gui/edit_history.hpp"

#include <QUndoCommand>

namespace tintora {
namespace {

// Steps beyond this many are forgotten, oldest first: each holds two grids.
constexpr int kUndoLimit = 500;

}  // namespace

// One undo step: the state before the change and after it.
class EditHistory::Step : public QUndoCommand {
public:
    Step(const QString& label, EditSnapshot before, EditSnapshot after, const Restore& restore)
        : QUndoCommand(label),
          before_(std::move(before)),
          after_(std::move(after)),
          restore_(restore) {}

    void undo() override { restore_(before_); }
    void redo() override {
        // The change itself already happened when the step was pushed.
        if (pushed_) restore_(after_);
        pushed_ = true;
    }

private:
    EditSnapshot before_;
    EditSnapshot after_;
    const Restore& restore_;
    bool pushed_ = false;
};

EditHistory::EditHistory(Capture capture, Restore restore, QObject* parent)
    : QObject(parent), capture_(std::move(capture)), restore_(std::move(restore)) {
    stack_.setUndoLimit(kUndoLimit);
}

void EditHistory::begin(const QString& label) {
    if (before_) finish();
    open_label_ = label;
    before_ = capture_();
}

void EditHistory::finish() {
    if (!before_) return;
    EditSnapshot before = std::move(*before_);
    before_.reset();
    EditSnapshot after = capture_();
    if (!is_edit(before, after)) return;
    stack_.push(new Step(open_label_, std::move(before), std::move(after), restore_));
}

void EditHistory::clear() {
    before_.reset();
    stack_.clear();
}

}  // namespace tintora
