#pragma once

#include <QWidget>
#include <array>
#include <memory>
#include <string>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTemporaryDir;
class QTimer;

namespace tintora {

class Program;

// Service › "Hotspot placement…": where the hotspot lies as the mesh
// stands (hotspot_readout), kept up to date while it shows: its centre,
// angular size and frame, how far apart the two mesh models put the clip,
// krpano's <hotspot> to copy, or why there is no hotspot; and a preview of
// the hotspot in the browser. Not modal.
class HotspotPlacementWindow : public QWidget {
    Q_OBJECT
public:
    HotspotPlacementWindow(Program& program, QWidget* owner);
    ~HotspotPlacementWindow() override;

    // Shows the window in front, up to date.
    void show_in_front();
    // The project changed (the main window recomposed): shown again soon,
    // once for a burst of changes, while the window shows.
    void project_changed();
    // Reads the project again and shows it.
    void refresh();

    // "Copy": the snippet to the clipboard.
    void copy_snippet();
    // "Preview in browser": the hotspot exported (through the video
    // window's run) into a private temporary folder, kept until the next
    // preview or the window goes, and its page opened.
    void preview_in_browser();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void follow_language();

    Program& program_;
    std::string applied_language_;
    bool placed_ = false;
    QLabel* refusal_label_ = nullptr;
    // Label and value of each line the readout may have.
    std::array<QLabel*, 4> line_labels_{};
    std::array<QLabel*, 4> line_values_{};
    QLabel* snippet_label_ = nullptr;
    QPlainTextEdit* snippet_ = nullptr;
    QPushButton* copy_button_ = nullptr;
    QPushButton* preview_button_ = nullptr;
    QTimer* refresh_timer_ = nullptr;
    QTimer* language_timer_ = nullptr;
    std::unique_ptr<QTemporaryDir> preview_folder_;
};

}  // namespace tintora
