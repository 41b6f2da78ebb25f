// The widgets of a camera control dialog as the property remoting describes
// it: one widget per described window, chosen by its Windows class name, at
// its described place, honouring the style bits that matter here. Both
// programs show such a dialog (the server its own controls, the client the
// replica of a server's), so both build it with this.
//
// Only what a user does is reported (the signals); showing a state again
// (Apply) never is.
#pragma once

#include <QObject>
#include <QPointer>

#include <cstdint>
#include <string>
#include <vector>

class QFont;
class QWidget;

namespace brindle {

// Window style bits the widgets honour.
inline constexpr uint32_t TREE_WS_VISIBLE = 0x10000000u;
inline constexpr uint32_t TREE_WS_DISABLED = 0x08000000u;
inline constexpr uint32_t TREE_TBS_VERT = 0x0002u;
inline constexpr uint32_t TREE_ES_READONLY = 0x0800u;

// Scroll request codes of a slider (TB_LINEUP ... TB_ENDTRACK).
inline constexpr int TREE_TB_LINEUP = 0, TREE_TB_LINEDOWN = 1, TREE_TB_PAGEUP = 2,
                     TREE_TB_PAGEDOWN = 3, TREE_TB_THUMBPOSITION = 4, TREE_TB_THUMBTRACK = 5,
                     TREE_TB_TOP = 6, TREE_TB_BOTTOM = 7, TREE_TB_ENDTRACK = 8;

struct TreeWindow {
    std::string cText;
    std::string cClass;
    int32_t position[4] = {}; // left, top, width, height in the parent
    uint32_t nStyle = 0;
    int nParent = -1;               // index of the parent window; -1: the root widget
    bool fTop = false;              // the dialog itself: no widget of its own
    int32_t nValue = 0;             // check state, entry, tab or position
    std::vector<std::string> items; // list entries or tab texts
    int32_t nMinimum = 0, nMaximum = 0, nPage = 0;
};

class WindowTree : public QObject {
    Q_OBJECT

  public:
    explicit WindowTree(QObject* parent = nullptr) : QObject(parent) {}

    // Replaces the widgets under `root` with one per window (a parent
    // always comes before its children), in `font`.
    void Build(QWidget* root, const std::vector<TreeWindow>& windows, const QFont& font);
    // Shows window nIndex's state again: style, value, text.
    void Apply(size_t nIndex, const TreeWindow& window);
    // Removes every widget.
    void Clear();
    // The widget of window nIndex; null for the top window or none.
    QWidget* Widget(size_t nIndex) const;
    size_t Count() const { return widgets_.size(); }

  signals:
    void Clicked(size_t nIndex);
    void Selected(size_t nIndex, int nEntry);
    void TabSelected(size_t nIndex, int nTab);
    void SliderMoved(size_t nIndex, int nPosition, int nCode);

  private:
    QWidget* Create(size_t nIndex, const TreeWindow& window, QWidget* parent);
    void Connect(size_t nIndex, QWidget* widget);

    std::vector<QPointer<QWidget>> widgets_;
    bool fApplying_ = false;
};

} // namespace brindle
