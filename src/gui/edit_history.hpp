#pragma once

#include <QObject>
#include <QString>
#include <QUndoStack>
#include <functional>
#include <optional>
#include <utility>

#include "core/correction/edit_snapshot.hpp"

namespace tintora {

// The one undo stack of the grid and the mesh. Every undoable change is
// recorded the same way: the state is taken whole before it and after it,
// and a step is pushed only when the change changed anything. A change made
// in one call goes through record(); a gesture that spans events (a drag, a
// press in the curve graph) calls begin() when it starts and finish() when
// it ends.
class EditHistory : public QObject {
    Q_OBJECT
public:
    using Capture = std::function<EditSnapshot()>;
    // Puts a snapshot back and shows it.
    using Restore = std::function<void(const EditSnapshot&)>;

    EditHistory(Capture capture, Restore restore, QObject* parent = nullptr);

    template <class Change>
    void record(const QString& label, Change&& change) {
        begin(label);
        std::forward<Change>(change)();
        finish();
    }
    // A change starts: the state before it. A change still open is finished first.
    void begin(const QString& label);
    // The change ended: one undo step when it changed anything.
    void finish();

    void undo() { stack_.undo(); }
    void redo() { stack_.redo(); }
    // Opening or starting a project: nothing to undo or redo.
    void clear();
    const QUndoStack& stack() const { return stack_; }

private:
    class Step;

    Capture capture_;
    Restore restore_;
    QUndoStack stack_;
    QString open_label_;
    std::optional<EditSnapshot> before_;
};

}  // namespace tintora
