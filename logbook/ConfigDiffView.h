#pragma once

#include "logbook/ConfigDiff.h"
#include "platform/Lang.h"

#include <QTableWidget>

// Two configurations side by side, one line per setting (address, commands, each delay setting
// by command), the lines that differ marked: bold on a highlight, with "changed" in the last
// column, so the mark does not rest on colour alone.
class CConfigDiffView : public QTableWidget {
    Q_OBJECT
public:
    explicit CConfigDiffView(QWidget* parent = nullptr);
    // Shows a against b under the column titles given; none (null) empties the view.
    void Show(const ConfigSnapshot* a, const ConfigSnapshot* b, const QString& titleA, const QString& titleB);
    void SetLanguage(Lang lang);
    // Shows only the lines that differ (true), or every line.
    void SetOnlyChanged(bool only);
    // The lines shown, and how many differ.
    const QList<ConfigDiffLine>& Lines() const { return m_lines; }
    int ChangedCount() const;

private:
    void Fill();

    Lang m_lang = Lang::English;
    bool m_bOnlyChanged = false;
    QString m_titleA, m_titleB;
    QList<ConfigDiffLine> m_lines;
};
