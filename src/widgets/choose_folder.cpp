#include "widgets/choose_folder.h"

#include "platform/expand_path.h"

#include <QCoreApplication>
#include <QFileDialog>

namespace brindle {

std::optional<QString> QtFolderDialog(QWidget* owner, const QString& title, const QString& start) {
    QFileDialog dialog(owner, title, start);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}

QString ChooseFolderTitle() {
    return QCoreApplication::translate("ChooseFolder", "保存業フォルダを選択してください");
}

bool ChooseFolder(QWidget* owner, std::string_view start, std::string& chosen,
                  const FolderDialog& dialog) {
    std::string expanded = ExpandPathText(start);
    std::optional<QString> folder =
        dialog(owner, ChooseFolderTitle(), QString::fromStdString(expanded));
    if (!folder || folder->isEmpty())
        return false;
    chosen = folder->toStdString();
    return true;
}

} // namespace brindle
