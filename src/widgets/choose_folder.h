// The folder chooser of the image-folder settings of both programs.
#pragma once

#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

class QWidget;

namespace brindle {

// Asks the user for a folder: owner, title, the folder it opens at → the
// chosen folder, or nothing when cancelled. The windows use
// QtFolderDialog; tests put their own in.
using FolderDialog = std::function<std::optional<QString>(QWidget* owner, const QString& title,
                                                          const QString& start)>;

// A modal QFileDialog that shows and returns folders only.
std::optional<QString> QtFolderDialog(QWidget* owner, const QString& title, const QString& start);

// The title of the chooser, translated.
QString ChooseFolderTitle();

// Expands `start` with ExpandPath (tokens and environment variables) and
// opens the chooser there. On OK the chosen folder is written to `chosen`
// and the result is true; on cancel `chosen` stays as it was.
bool ChooseFolder(QWidget* owner, std::string_view start, std::string& chosen,
                  const FolderDialog& dialog = QtFolderDialog);

} // namespace brindle
