#include "logbook/FileChooser.h"

#include <QFileDialog>

namespace {
FileChooserHook& hook() {
    static FileChooserHook h;
    return h;
}
} // namespace

void SetFileChooserHook(FileChooserHook h) {
    hook() = std::move(h);
}

FileChosen ChooseFile(QWidget* parent, const FileChoice& choice) {
    if (hook())
        return hook()(choice);
    QFileDialog dialog(parent, choice.title);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(choice.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(choice.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilters(choice.filters);
    const QFileInfo suggested(choice.suggested);
    if (suggested.isDir()) {
        dialog.setDirectory(choice.suggested);
    } else {
        dialog.setDirectory(suggested.absolutePath());
        dialog.selectFile(suggested.fileName());
    }
    FileChosen chosen;
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return chosen;
    chosen.path = dialog.selectedFiles().constFirst();
    chosen.filter = std::max(0, int(choice.filters.indexOf(dialog.selectedNameFilter())));
    return chosen;
}
