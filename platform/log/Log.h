#pragma once

#include <QList>
#include <QString>

#include <memory>

// The application's log: subsystem "com.marrowfieldco.kestrelnote", five categories and
// five levels. Messages are already expanded. Clipboard content may only ever appear in
// debug lines, which are dropped unless KESTRELNOTE_LOG_DEBUG is set.
namespace klog {

inline constexpr auto subsystem = "com.marrowfieldco.kestrelnote";

enum class Category { App, Capture, Persistence, Shelf, Import };
enum class Level { Debug, Info, Default, Error, Fault };

struct Line {
    Category category;
    Level level;
    QString message;
};

QString categoryName(Category category);
QString levelName(Level level);

void write(Category category, Level level, const QString &message);

inline void debug(Category c, const QString &m) { write(c, Level::Debug, m); }
inline void info(Category c, const QString &m) { write(c, Level::Info, m); }
inline void notice(Category c, const QString &m) { write(c, Level::Default, m); }
inline void error(Category c, const QString &m) { write(c, Level::Error, m); }
inline void fault(Category c, const QString &m) { write(c, Level::Fault, m); }

// Routes Qt's own qDebug/qWarning/... output into the "app" category.
void installQtMessageHandler();

struct RecorderState;

// Records every line (debug included) written anywhere in the process while it lives.
// Several may be alive at once; each sees every line.
class Recorder
{
public:
    Recorder();
    ~Recorder();
    Recorder(const Recorder &) = delete;
    Recorder &operator=(const Recorder &) = delete;

    QList<Line> lines() const;
    // Messages of one level, optionally of one category only.
    QStringList messages(Level level) const;
    QStringList messages(Category category, Level level) const;
    void clear();

private:
    std::unique_ptr<RecorderState> m_state;
};

} // namespace klog
