#include "imagestore/viewer/viewer_host.h"

#include <QMessageBox>
#include <QString>

namespace brindle {

void ViewerHost::ShowMessage(const std::string& caption, const std::string& text,
                             ViewerMessageIcon icon) {
    const QString title = QString::fromStdString(caption);
    const QString body = QString::fromStdString(text);
    if (icon == ViewerMessageIcon::kError)
        QMessageBox::critical(nullptr, title, body);
    else
        QMessageBox::warning(nullptr, title, body);
}

std::string FormatViewerTitle(const std::string& server, const std::string& name, int nDuplicate) {
    std::string title = server.empty() ? name : server + " " + name;
    if (nDuplicate > 1)
        title += " [" + std::to_string(nDuplicate) + "]";
    return title;
}

std::string FormatPlacementKey(const std::string& server, const std::string& folder) {
    return server.empty() ? folder : server + "-" + folder;
}

} // namespace brindle
