// Laying out the dialog: one tab per control class, one row per control.
#include "server/connections/property_dialog.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <string>

namespace brindle {

namespace {

constexpr int32_t DIALOG_LEFT = 100, DIALOG_TOP = 100, DIALOG_WIDTH = 420;
constexpr int32_t PAGE_LEFT = 10, PAGE_TOP = 30;
constexpr int32_t ROW_HEIGHT = 28, ROW_LEFT = 8, ROW_TOP = 8;
constexpr int32_t LABEL_WIDTH = 110, SLIDER_WIDTH = 180, EDIT_WIDTH = 60;
constexpr int32_t TEXT_HEIGHT = 20, MENU_HEIGHT = 200;
constexpr uint32_t FIRST_IDENTIFIER = 1000;
constexpr uint32_t PAGE_IDENTIFIER = 32700;
constexpr uint32_t CHILD = WS_CHILD | WS_VISIBLE;

bool Contains(const std::string& className, const char* part) {
    std::string lower = className;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.find(part) != std::string::npos;
}

// Builds windows in description order, each below the window given.
class Layout {
  public:
    explicit Layout(std::vector<PropertyWindow>& windows) : windows_(windows) {}

    PropertyWindow& Add(uint32_t hParent, const std::string& cClass, const std::string& cText,
                        uint32_t nStyle, int32_t x, int32_t y, int32_t w, int32_t h) {
        PropertyWindow window;
        window.cClass = cClass;
        window.cText = cText;
        window.nStyle = nStyle;
        window.hParent = hParent;
        window.hWindow = NewPropertyHandle();
        window.nIdentifier = hParent == 0 ? 0 : nNextIdentifier_++;
        window.nKind = PropertyKindOfClass(cClass);
        window.position[0] = x, window.position[1] = y;
        window.position[2] = w, window.position[3] = h;
        window.client[2] = w, window.client[3] = h;
        windows_.push_back(std::move(window));
        return windows_.back();
    }

    void AddControl(uint32_t hPage, const CaptureControl& control, int32_t y) {
        uint32_t nDisabled = 0;
        if (control.nFlags &
            (CONTROL_FLAG_READ_ONLY | CONTROL_FLAG_INACTIVE | CONTROL_FLAG_GRABBED))
            nDisabled = WS_DISABLED;
        switch (control.type) {
        case ControlType::Integer:
            AddSlider(hPage, control, y, nDisabled);
            break;
        case ControlType::Boolean:
            Bind(Add(hPage, "Button", control.name,
                     CHILD | WS_TABSTOP | BS_AUTOCHECKBOX | nDisabled, ROW_LEFT, y,
                     LABEL_WIDTH + SLIDER_WIDTH, TEXT_HEIGHT),
                 control)
                .fCheckBox = true;
            break;
        case ControlType::Menu:
            AddMenu(hPage, control, y, nDisabled);
            break;
        case ControlType::Button:
            Bind(Add(hPage, "Button", control.name, CHILD | WS_TABSTOP | BS_PUSHBUTTON | nDisabled,
                     ROW_LEFT, y, LABEL_WIDTH, TEXT_HEIGHT + 4),
                 control);
            break;
        }
    }

  private:
    PropertyWindow& Bind(PropertyWindow& window, const CaptureControl& control) {
        window.fControl = true;
        window.nControlId = control.nId;
        return window;
    }

    // The label sits left of its slider on the same row.
    void AddSlider(uint32_t hPage, const CaptureControl& control, int32_t y, uint32_t nDisabled) {
        Bind(Add(hPage, "Static", control.name, CHILD | nDisabled, ROW_LEFT, y + 4, LABEL_WIDTH,
                 TEXT_HEIGHT),
             control);
        int64_t nRange = int64_t(control.nMaximum) - control.nMinimum;
        int64_t nPage = std::max<int64_t>(control.nStep, nRange / 10);
        PropertyWindow& slider =
            Bind(Add(hPage, "msctls_trackbar32", "", CHILD | WS_TABSTOP | TBS_AUTOTICKS | nDisabled,
                     ROW_LEFT + LABEL_WIDTH, y, SLIDER_WIDTH, ROW_HEIGHT - 2),
                 control);
        slider.nMinimum = control.nMinimum;
        slider.nMaximum = control.nMaximum;
        slider.nPage = static_cast<int32_t>(std::clamp<int64_t>(nPage, 1, INT32_MAX));
        Bind(Add(hPage, "Edit", "", CHILD | ES_READONLY | ES_AUTOHSCROLL | nDisabled,
                 ROW_LEFT + LABEL_WIDTH + SLIDER_WIDTH + 4, y + 2, EDIT_WIDTH, TEXT_HEIGHT),
             control);
    }

    // Entries without text are values the device skips.
    void AddMenu(uint32_t hPage, const CaptureControl& control, int32_t y, uint32_t nDisabled) {
        Bind(Add(hPage, "Static", control.name, CHILD | nDisabled, ROW_LEFT, y + 4, LABEL_WIDTH,
                 TEXT_HEIGHT),
             control);
        PropertyWindow& combo =
            Bind(Add(hPage, "ComboBox", "",
                     CHILD | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST | nDisabled,
                     ROW_LEFT + LABEL_WIDTH, y, SLIDER_WIDTH, MENU_HEIGHT),
                 control);
        for (size_t i = 0; i < control.menu.size(); ++i) {
            if (control.menu[i].empty())
                continue;
            combo.items.push_back(control.menu[i]);
            combo.itemValues.push_back(
                static_cast<int32_t>(int64_t(control.nMinimum) + int64_t(i)));
        }
    }

    std::vector<PropertyWindow>& windows_;
    uint32_t nNextIdentifier_ = FIRST_IDENTIFIER;
};

} // namespace

uint8_t PropertyKindOfClass(const std::string& className) {
    if (Contains(className, "button"))
        return PROPERTY_KIND_BUTTON;
    if (Contains(className, "combo"))
        return PROPERTY_KIND_COMBO;
    if (Contains(className, "edit"))
        return PROPERTY_KIND_EDIT;
    if (Contains(className, "tabcontrol"))
        return PROPERTY_KIND_TAB;
    if (Contains(className, "trackbar"))
        return PROPERTY_KIND_SLIDER;
    return PROPERTY_KIND_OTHER;
}

uint32_t NewPropertyHandle() {
    static std::atomic<uint32_t> nNext{1};
    uint32_t h = nNext.fetch_add(1);
    // 0 means "no window" on the wire; the counter would need four billion
    // windows to come round to it.
    return h != 0 ? h : nNext.fetch_add(1);
}

PropertyDialog::PropertyDialog(int32_t nCamera, const std::string& name,
                               const std::vector<CaptureControl>& controls)
    : nCamera_(nCamera) {
    std::vector<std::string> classes;
    size_t nMostRows = 0;
    for (const CaptureControl& control : controls) {
        if (std::find(classes.begin(), classes.end(), control.className) == classes.end())
            classes.push_back(control.className);
    }
    for (const std::string& cls : classes)
        nMostRows = std::max<size_t>(
            nMostRows,
            size_t(std::count_if(controls.begin(), controls.end(),
                                 [&](const CaptureControl& c) { return c.className == cls; })));
    int32_t nPageHeight = ROW_TOP * 2 + int32_t(std::min<size_t>(nMostRows, 1000)) * ROW_HEIGHT;
    int32_t nHeight = PAGE_TOP + nPageHeight + 20;
    int32_t nPageWidth = DIALOG_WIDTH - 2 * PAGE_LEFT;

    Layout layout(windows_);
    uint32_t hDialog =
        layout
            .Add(0, "#32770", name,
                 WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT,
                 DIALOG_LEFT, DIALOG_TOP, DIALOG_WIDTH, nHeight)
            .hWindow;
    PropertyWindow& tab = layout.Add(hDialog, "SysTabControl32", "", CHILD | WS_TABSTOP, 6, 6,
                                     DIALOG_WIDTH - 12, nHeight - 12);
    tab.items = classes;
    for (size_t t = 0; t < classes.size(); ++t) {
        PropertyWindow& page = layout.Add(hDialog, "#32770", classes[t],
                                          WS_CHILD | DS_CONTROL | (t == 0 ? WS_VISIBLE : 0),
                                          PAGE_LEFT, PAGE_TOP, nPageWidth, nPageHeight);
        page.nIdentifier = PAGE_IDENTIFIER + uint32_t(t);
        page.nExStyle = WS_EX_CONTROLPARENT;
        uint32_t hPage = page.hWindow;
        int32_t y = ROW_TOP;
        for (const CaptureControl& control : controls) {
            if (control.className != classes[t])
                continue;
            layout.AddControl(hPage, control, y);
            y += ROW_HEIGHT;
        }
    }
    Apply(controls);
    for (PropertyWindow& window : windows_)
        window.nToldStyle = window.nStyle, window.nToldExStyle = window.nExStyle,
        window.nToldValue = window.nValue;
}

} // namespace brindle
