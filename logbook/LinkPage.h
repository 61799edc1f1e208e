#pragma once

#include "logbook/LinkData.h"
#include "platform/Lang.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPlainTextEdit;
class QTableView;
class CBackgroundFetch;
class CLinkTimeline;
class CTextTableModel;

// Both ends of a link on one time axis: choose the link (a visit that read both units, or two
// units), see the local unit's events above and the remote unit's below with matched commands
// joined, lost and unwanted ones marked and fibre interruptions as bands, opening on the newest
// visit's traffic; beside it the list of lost, unwanted and not covered commands, a row chosen (or
// F8 and Shift+F8 from the picture or the list) centring the picture on its event; the offset
// between the clocks as estimated, open to a hand correction in milliseconds that matches the link
// again; an event chosen shows both records' lines; the counts per command below. Reads and matches
// off the UI thread.
class CLinkPage : public QWidget {
    Q_OBJECT
public:
    CLinkPage(const QString& archivePath, QWidget* parent = nullptr);
    void SetLanguage(Lang lang);
    // Reads the choices again, and the chosen link.
    void Reload();
    // Shows the link of visit `visitId` (when the archive has it among the choices).
    void ShowVisit(qint64 visitId);

    QComboBox* LinkBox() const { return m_cboLink; }
    QComboBox* LocalBox() const { return m_cboLocal; }
    QComboBox* RemoteBox() const { return m_cboRemote; }
    QDoubleSpinBox* OffsetBox() const { return m_spnOffset; }
    QCheckBox* HandBox() const { return m_chkHand; }
    QLabel* OffsetLabel() const { return m_stcOffset; }
    CLinkTimeline* Timeline() const { return m_timeline; }
    QPlainTextEdit* ChosenText() const { return m_txtChosen; }
    QTableView* CountsTable() const { return m_tblCounts; }
    QTableView* ProblemsTable() const { return m_tblProblems; }
    const LinkResult& Result() const { return m_result; }

signals:
    void StatusText(const QString& text);
    // A link was read (or matched again) and is on screen.
    void Shown();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Retranslate();
    // Chooses row `row` of the problems' list: its mark, centred.
    void ChooseProblem(int row);
    // Chooses the next (`step` 1) or previous (-1) problem from the chosen mark (or the view's
    // middle), round from the last to the first and back.
    void StepProblem(int step);
    // Fills the choices; `fresh` (their first reading) chooses the newest visit.
    void FillChoices(bool fresh = false);
    void LoadChosen();
    void Rematch();
    void ShowResult(const LinkResult& result, bool keepView);
    void ShowChosenMark();
    MatchOptions Options() const;

    QString m_strPath;
    Lang m_lang = Lang::English;
    LinkChoices m_choices;
    bool m_bChoicesRead = false;
    std::optional<qint64> m_wantVisit; // to choose once the choices are read
    LinkResult m_result;
    QLabel* m_stcLink;
    QComboBox* m_cboLink;
    QLabel* m_stcLocal;
    QComboBox* m_cboLocal;
    QLabel* m_stcRemote;
    QComboBox* m_cboRemote;
    QLabel* m_stcOffset;
    QCheckBox* m_chkHand;
    QDoubleSpinBox* m_spnOffset;
    CLinkTimeline* m_timeline;
    QLabel* m_stcHint;
    QPlainTextEdit* m_txtChosen;
    QTableView* m_tblCounts;
    CTextTableModel* m_counts;
    QTableView* m_tblProblems;
    CTextTableModel* m_problemRows;
    QList<LinkProblem> m_problems;
    bool m_bFollowing = false; // the list is following the picture's choice
    CBackgroundFetch* m_fetchChoices;
    CBackgroundFetch* m_fetch;
};
