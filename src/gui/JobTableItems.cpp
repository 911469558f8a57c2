#include "gui/JobTableItems.h"

#include "gui/StatusColours.h"
#include "protocol/JobRules.h"
#include "protocol/Protocol.h"

#include <QBrush>
#include <QFont>
#include <QStringList>
#include <QStringMatcher>
#include <QTableWidget>

namespace VLK {

namespace {

// The font of the progress column: the table's own, in a fixed-width family.
const QVariant &progressFont()
{
    static const QVariant font = [] {
        QFont fixedWidth;
        // Family only: the size comes from the table's own font.
        fixedWidth.setFamily(QStringLiteral("Courier New"));
        return QVariant(fixedWidth);
    }();
    return font;
}

// A job table cell that keeps what it shows in members. A long job list
// creates and compares hundreds of thousands of cells, and the toolkit's own
// cell keeps every role in a list that it searches on each read and grows
// value by value; a sort of a long list reads the text of every cell many times.
// What every cell of a column shares is kept as a flag or a number, which
// keeps the cells of a long list small; values of other kinds, set from
// outside the fill, go to the toolkit's own list.
class JobCell final : public QTableWidgetItem
{
public:
    static constexpr int Type = QTableWidgetItem::UserType + 1;

    // The one role beyond text, colour and font that a cell answers.
    enum class UserData : quint8 { None, Bool, Int };

    struct Content
    {
        // The cell shows text from position textFrom on: the progress cell
        // shares the whole message with the job's record instead of holding
        // a copy of its tail.
        QString text;
        int textFrom = 0;
        QVariant foreground;
        bool progressFont = false;
        int userDataRole = Qt::UserRole;
        UserData userDataKind = UserData::None;
        int userData = 0;
        Qt::ItemFlags flags;
    };

    explicit JobCell(const Content &content)
        : QTableWidgetItem(Type)
        , m_text(content.text)
        , m_foreground(content.foreground)
        , m_textFrom(content.textFrom)
        , m_userDataRole(content.userDataRole)
        , m_userData(content.userData)
        , m_userDataKind(content.userDataKind)
        , m_progressFont(content.progressFont)
    {
        setFlags(content.flags);
    }
    Q_DISABLE_COPY(JobCell)

    // Shows content. The table hears of it only when something changed,
    // and so does the caller.
    bool show(const Content &content)
    {
        bool changed = assign(m_text, content.text);
        changed = assign(m_textFrom, content.textFrom) || changed;
        changed = assign(m_foreground, content.foreground) || changed;
        changed = assign(m_progressFont, content.progressFont) || changed;
        changed = assign(m_userDataRole, content.userDataRole) || changed;
        changed = assign(m_userDataKind, content.userDataKind) || changed;
        changed = assign(m_userData, content.userData) || changed;
        if (!changed && flags() == content.flags)
            return false;
        setFlags(content.flags); // also tells the table, as tellTable() does
        return true;
    }

    QVariant data(int role) const override
    {
        if (role == Qt::DisplayRole || role == Qt::EditRole)
            return m_textFrom == 0 ? m_text : shownText().toString();
        if (role == Qt::ForegroundRole)
            return m_foreground;
        if (role == Qt::FontRole && m_progressFont)
            return progressFont();
        if (role == m_userDataRole && m_userDataKind != UserData::None)
            return m_userDataKind == UserData::Bool ? QVariant(m_userData != 0)
                                                    : QVariant(m_userData);
        return QTableWidgetItem::data(role);
    }

    // Any caller outside the fill.
    void setData(int role, const QVariant &value) override
    {
        bool changed = false;
        if (role == Qt::DisplayRole || role == Qt::EditRole) {
            changed = assign(m_textFrom, 0);
            changed = assign(m_text, value.toString()) || changed;
        } else if (role == Qt::ForegroundRole) {
            changed = assign(m_foreground, value);
        } else if (role == Qt::FontRole && value == progressFont()) {
            changed = assign(m_progressFont, true);
        } else if (role == m_userDataRole && keepsUserData(value)) {
            changed = assign(m_userDataKind, isBool(value) ? UserData::Bool : UserData::Int);
            changed = assign(m_userData, value.toInt()) || changed;
        } else {
            if (role == Qt::FontRole)
                m_progressFont = false;
            else if (role == m_userDataRole)
                m_userDataKind = UserData::None;
            QTableWidgetItem::setData(role, value);
            return;
        }
        if (changed)
            tellTable();
    }

    bool contains(const QStringMatcher &text) const { return text.indexIn(shownText()) != -1; }

    bool operator<(const QTableWidgetItem &other) const override
    {
        if (other.type() != Type)
            return QTableWidgetItem::operator<(other);
        return shownText() < static_cast<const JobCell &>(other).shownText();
    }

private:
    QStringView shownText() const { return QStringView(m_text).mid(m_textFrom); }

    // The cell's own way to report a change: setting its flags, even unchanged,
    // makes the table repaint it and emit its change signals.
    void tellTable() { setFlags(flags()); }

    template<typename T> static bool assign(T &member, const T &value)
    {
        if (member == value)
            return false;
        member = value;
        return true;
    }

    static bool isBool(const QVariant &value) { return value.userType() == QMetaType::Bool; }
    static bool keepsUserData(const QVariant &value)
    {
        return isBool(value) || value.userType() == QMetaType::Int;
    }

    QString m_text;
    QVariant m_foreground;
    int m_textFrom;
    int m_userDataRole;
    int m_userData;
    UserData m_userDataKind;
    bool m_progressFont;
};

} // namespace

JobTableItems::JobTableItems()
    // Read-only: the path of a job names it in every action, so it must stay
    // what the server listed. Copying a cell works all the same.
    : m_accessibleFlags(QTableWidgetItem().flags() & ~Qt::ItemIsEditable)
    , m_runningBrush(QBrush(StatusColours::Running))
    , m_queuedBrush(QBrush(StatusColours::Queued))
    , m_inaccessibleBrush(QBrush(Qt::gray))
{ }

bool JobTableItems::usePalette(const QPalette &palette)
{
    const QVariant running = QBrush(StatusColours::readable(StatusColours::Running, palette));
    const QVariant queued = QBrush(StatusColours::readable(StatusColours::Queued, palette));
    if (running == m_runningBrush && queued == m_queuedBrush)
        return false;
    m_runningBrush = running;
    m_queuedBrush = queued;
    return true;
}

JobTableItems::Columns JobTableItems::fillRow(QTableWidget &table, int row, const JobInfo &job,
                                              int replyIndex, bool reuseCells) const
{
    const QString *texts[ListedColumnCount]
        = { &job.userId, &job.solverId, &job.status, &job.path, &job.progressMsg };
    Columns changed = 0;
    JobCell::Content content;
    content.flags = job.accessible ? m_accessibleFlags : Qt::ItemIsEnabled;
    for (int column = 0; column < ListedColumnCount; ++column) {
        content.text = *texts[column];
        content.textFrom
            = column == ProgressColumn ? JobRules::lastMessageTailStart(job.progressMsg) : 0;
        content.foreground = foregroundFor(job, column);
        content.progressFont = column == ProgressColumn;
        content.userDataRole = column == ProgressColumn ? ReplyIndexRole : AccessibleRole;
        if (column == UserIdColumn) {
            content.userDataKind = JobCell::UserData::Bool;
            content.userData = job.accessible ? 1 : 0;
        } else if (column == ProgressColumn) {
            content.userDataKind = JobCell::UserData::Int;
            content.userData = replyIndex;
        } else {
            content.userDataKind = JobCell::UserData::None;
            content.userData = 0;
        }

        QTableWidgetItem *cell = reuseCells ? table.item(row, column) : nullptr;
        if (cell && cell->type() == JobCell::Type) {
            if (static_cast<JobCell *>(cell)->show(content))
                changed |= columnBit(column);
        } else {
            // Complete before the table sees it, so that it costs one notification.
            table.setItem(row, column, new JobCell(content));
            changed |= columnBit(column);
        }
    }
    return changed;
}

// No value for the toolkit's default colour.
QVariant JobTableItems::foregroundFor(const JobInfo &job, int column) const
{
    if (!job.accessible)
        return m_inaccessibleBrush;
    if (column != StatusColumn)
        return QVariant();
    switch (JobRules::statusOf(job.status)) {
    case JobRules::Status::Running:
        return m_runningBrush;
    case JobRules::Status::Queued:
        return m_queuedBrush;
    default:
        return QVariant();
    }
}

// The progress cell holds the tail of the last message, which is all the
// rules read of it.
JobTableItems::Actions JobTableItems::actionsFor(bool accessible, QStringView status,
                                                 QStringView progressCell)
{
    Actions actions;
    if (!accessible)
        return actions;
    switch (JobRules::statusOf(status)) {
    case JobRules::Status::Processed:
        actions.remove = true;
        actions.download = JobRules::offersResult(progressCell);
        break;
    case JobRules::Status::Queued:
        actions.remove = true;
        break;
    case JobRules::Status::Running:
        actions.kill = true;
        break;
    default:
        break;
    }
    return actions;
}

bool JobTableItems::cellContains(const QTableWidgetItem &cell, const QStringMatcher &text)
{
    if (cell.type() == JobCell::Type)
        return static_cast<const JobCell &>(cell).contains(text);
    return text.indexIn(cell.text()) != -1;
}

QString JobTableItems::messageLines(const QString &progressMsg)
{
    QStringList messages = JobRules::splitMessages(progressMsg);
    for (QString &message : messages) // each cut to its tail in place
        message.remove(0, int(message.size() - JobRules::messageTail(message).size()));
    return messages.join(QLatin1Char('\n'));
}

} // namespace VLK
