#include "logbook/ImportDialog.h"

#include "archive/Archive.h"
#include "logbook/LogbookLanguage.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

CImportDialog::CImportDialog(const QString& archivePath, Lang lang, QWidget* parent)
    : QDialog(parent), m_strArchive(archivePath), m_lang(lang) {
    setWindowTitle(LbText(lang, "Import record files", "导入记录文件"));
    m_list = new QListWidget(this);
    m_list->setMinimumHeight(60);
    m_btnFiles = new QPushButton(LbText(lang, "Add &files...", "添加文件(&F)..."), this);
    m_btnFolder = new QPushButton(LbText(lang, "Add f&older...", "添加文件夹(&O)..."), this);
    m_editUnit = new QLineEdit(this);
    m_editUnit->setPlaceholderText(LbText(lang,
                                          "the unit that holds the events, else the folder's name and side",
                                          "已有这些事件的装置，否则按文件夹名和侧别"));
    m_comboSide = new QComboBox(this);
    m_comboSide->addItem(LbText(lang, "by the file's name", "按文件名"));
    m_comboSide->addItem(LbText(lang, "local", "本地"));
    m_comboSide->addItem(LbText(lang, "remote", "对端"));
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    m_summary = new QPlainTextEdit(this);
    m_summary->setReadOnly(true);
    m_summary->setMinimumHeight(80);
    m_btnImport = new QPushButton(LbText(lang, "&Import", "导入(&I)"), this);
    m_btnStop = new QPushButton(LbText(lang, "&Stop", "停止(&S)"), this);
    m_btnClose = new QPushButton(LbText(lang, "Close", "关闭"), this);
    for (QPushButton* b : {m_btnFiles, m_btnFolder, m_btnImport, m_btnStop, m_btnClose})
        b->setAutoDefault(false);

    auto* choose = new QHBoxLayout;
    choose->addWidget(m_btnFiles);
    choose->addWidget(m_btnFolder);
    choose->addStretch();
    auto* form = new QFormLayout;
    form->addRow(LbText(lang, "&Unit:", "装置(&U):"), m_editUnit);
    form->addRow(LbText(lang, "Si&de:", "侧别(&D):"), m_comboSide);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_btnImport);
    buttons->addWidget(m_btnStop);
    buttons->addWidget(m_btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(LbText(lang, "Record files and folders:", "记录文件和文件夹:"), this));
    layout->addWidget(m_list);
    layout->addLayout(choose);
    layout->addLayout(form);
    layout->addWidget(m_progress);
    layout->addWidget(m_summary, 1);
    layout->addLayout(buttons);

    connect(m_btnFiles, &QPushButton::clicked, this, &CImportDialog::ChooseFiles);
    connect(m_btnFolder, &QPushButton::clicked, this, &CImportDialog::ChooseFolder);
    connect(m_btnImport, &QPushButton::clicked, this, &CImportDialog::Import);
    connect(m_btnStop, &QPushButton::clicked, this, [this] { m_stopAsked = true; });
    connect(m_btnClose, &QPushButton::clicked, this, &CImportDialog::reject);
    UpdateButtons();
}

void CImportDialog::AddPaths(const QStringList& paths) {
    for (const QString& p : paths) {
        if (p.isEmpty() || m_paths.contains(p))
            continue;
        m_paths << p;
        m_list->addItem(QDir::toNativeSeparators(p));
    }
    UpdateButtons();
}

void CImportDialog::ChooseFiles() {
    AddPaths(QFileDialog::getOpenFileNames(this, LbText(m_lang, "Record files", "记录文件")));
}

void CImportDialog::ChooseFolder() {
    AddPaths({QFileDialog::getExistingDirectory(
        this, LbText(m_lang, "A folder of record files", "记录文件所在文件夹"))});
}

void CImportDialog::UpdateButtons() {
    m_btnImport->setEnabled(!m_running && !m_paths.isEmpty());
    m_btnStop->setEnabled(m_running);
    m_btnClose->setEnabled(!m_running);
    m_btnFiles->setEnabled(!m_running);
    m_btnFolder->setEnabled(!m_running);
    m_editUnit->setEnabled(!m_running);
    m_comboSide->setEnabled(!m_running);
}

void CImportDialog::reject() {
    if (m_running) // Escape or the window's close stop the import first, as Stop does
        m_stopAsked = true;
    else
        QDialog::reject();
}

QString CImportDialog::SummaryText(const ImportReport& report) const {
    const Lang lang = m_lang;
    QString text = LbText(lang, "%1 file(s) imported, %2 unchanged; %3 record(s) read, %4 new event(s).",
                          "导入 %1 个文件，%2 个未变；读取 %3 条记录，新事件 %4 条。")
                       .arg(report.filesImported)
                       .arg(report.filesUnchanged)
                       .arg(report.events)
                       .arg(report.newEvents);
    if (report.stopped)
        text += '\n' + LbText(lang, "Stopped: the files after the last one imported were not looked at.",
                              "已停止：其后的文件未处理。");
    if (!report.refused.isEmpty())
        text += '\n' + LbText(lang, "Refused:", "拒绝:") + QStringLiteral("\n  ") +
                report.refused.join(QStringLiteral("\n  "));
    if (!report.skipped.isEmpty())
        text += '\n' + LbText(lang, "Skipped:", "跳过:") + QStringLiteral("\n  ") +
                report.skipped.join(QStringLiteral("\n  "));
    return text;
}

bool CImportDialog::Import() {
    if (m_running || m_paths.isEmpty())
        return false;
    const Lang lang = m_lang;
    Archive archive;
    if (!archive.Open(m_strArchive, Archive::Mode::ReadWrite)) {
        m_summary->setPlainText(
            LbText(lang, "The archive cannot be used: %1", "档案无法使用: %1").arg(archive.LastError()));
        return false;
    }
    ImportOptions options;
    options.unitName = m_editUnit->text().trimmed();
    if (m_comboSide->currentIndex() == 1)
        options.side = UnitSide::Local;
    else if (m_comboSide->currentIndex() == 2)
        options.side = UnitSide::Remote;
    // The bar and Stop live between files: each file's transaction is short.
    const ImportProgress progress = [this](qsizetype done, qsizetype total) {
        m_progress->setRange(0, int(qMax<qsizetype>(1, total)));
        m_progress->setValue(int(done));
        QApplication::processEvents();
        return !m_stopAsked;
    };
    m_running = true;
    m_stopAsked = false;
    m_progress->setRange(0, 0); // busy until the files are found
    m_summary->setPlainText(LbText(lang, "Importing...", "正在导入..."));
    UpdateButtons();
    ImportReport report;
    const bool ok = ImportRecordPaths(archive, m_paths, options, &report, progress);
    m_running = false;
    if (m_progress->maximum() == 0)
        m_progress->setRange(0, 1);
    if (!report.stopped)
        m_progress->setValue(m_progress->maximum());
    m_changed = m_changed || report.filesImported > 0;
    QString text = SummaryText(report);
    if (!ok)
        text =
            LbText(lang, "The archive cannot be written: %1", "档案无法写入: %1").arg(archive.LastError()) +
            '\n' + text;
    m_summary->setPlainText(text);
    UpdateButtons();
    return ok;
}
