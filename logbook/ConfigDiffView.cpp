#include "logbook/ConfigDiffView.h"

#include "logbook/LogbookLanguage.h"

#include <QHeaderView>

#include <algorithm>

CConfigDiffView::CConfigDiffView(QWidget* parent) : QTableWidget(parent) {
    setObjectName(QStringLiteral("diff"));
    setColumnCount(4);
    setEditTriggers(NoEditTriggers);
    setSelectionBehavior(SelectRows);
    setSelectionMode(SingleSelection);
    setWordWrap(false);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
    horizontalHeader()->setSectionResizeMode(3, QHeaderView::ResizeToContents);
}

int CConfigDiffView::ChangedCount() const {
    return int(
        std::count_if(m_lines.begin(), m_lines.end(), [](const ConfigDiffLine& l) { return l.changed; }));
}

void CConfigDiffView::Show(const ConfigSnapshot* a, const ConfigSnapshot* b, const QString& titleA,
                           const QString& titleB) {
    m_titleA = titleA;
    m_titleB = titleB;
    m_lines = a && b ? DiffConfigLines(*a, *b) : QList<ConfigDiffLine>{};
    Fill();
}

void CConfigDiffView::SetOnlyChanged(bool only) {
    m_bOnlyChanged = only;
    Fill();
}

void CConfigDiffView::SetLanguage(Lang lang) {
    m_lang = lang;
    Fill();
}

void CConfigDiffView::Fill() {
    const Lang lang = m_lang;
    setHorizontalHeaderLabels(
        {LbText(lang, "Setting", "设置"), m_titleA, m_titleB, LbText(lang, "Difference", "差异")});
    setRowCount(int(m_lines.size()));
    const QColor mark = palette().color(QPalette::Highlight).lighter(185);
    for (int r = 0; r < m_lines.size(); ++r) {
        const ConfigDiffLine& line = m_lines[r];
        const QString cells[4] = {ConfigLineName(line, lang), line.a, line.b,
                                  line.changed ? LbText(lang, "changed", "已改变") : QString()};
        for (int c = 0; c < 4; ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            if (line.changed) {
                QFont f = font();
                f.setBold(true);
                item->setFont(f);
                item->setBackground(mark);
                item->setForeground(palette().color(QPalette::Text));
            }
            setItem(r, c, item);
        }
        setRowHidden(r, m_bOnlyChanged && !line.changed);
    }
    // The first difference in view.
    for (int r = 0; r < m_lines.size(); ++r)
        if (m_lines[r].changed) {
            scrollToItem(item(r, 0), PositionAtTop);
            break;
        }
}
