// Shared by the window tests: an emulated board process, a private working
// directory for the settings file, and read access to the window's inner
// state.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <csignal>
#include <cstring>
#include <unistd.h>

#include "CDeviceLink.h"
#include "FInit.h"

// Port numbers far above the machine's own serial ports, different per
// process so that parallel test runs do not meet.
inline int uniquePortNumber(int offset)
{
    return 200 + (static_cast<int>(::getpid()) * 7 + offset) % 700;
}

// halvane-board running on a pseudo-terminal as COM<port>, its request log
// written to a file. When another board already serves the preferred port
// the next free one is taken. Stopped (and its link removed) on destruction.
class EmulatedBoard
{
  public:
    explicit EmulatedBoard(int preferredPort, const QStringList& extraArguments = {})
    {
        logPath = logDir.filePath(QStringLiteral("board.log"));
        for (port = preferredPort; port < preferredPort + 20 && !ready; ++port) {
            process.setStandardErrorFile(logPath);
            process.start(QStringLiteral(HALVANE_BOARD_PATH),
                          QStringList{"--port", QString::number(port), "--verbose"} +
                              extraArguments);
            ready = process.waitForStarted(5000) && waitForLine();
            if (!ready)
                process.waitForFinished(3000);
        }
        --port;
    }
    ~EmulatedBoard()
    {
        resume();
        process.terminate();
        if (!process.waitForFinished(3000)) {
            process.kill();
            process.waitForFinished(3000);
        }
    }

    bool isReady() const { return ready; }
    int portNumber() const { return port; }

    // Requests the board has received since the last clear, as hex lines
    // ("32 00 40 40 02 40").
    QStringList requests() const
    {
        QFile file(logPath);
        QStringList lines;
        if (!file.open(QIODevice::ReadOnly))
            return lines;
        const QStringList all = QString::fromLatin1(file.readAll()).split('\n');
        for (int i = requestsSeen; i < all.size(); ++i) {
            if (all[i].startsWith(QLatin1String("request: ")))
                lines << all[i].mid(9).trimmed();
        }
        return lines;
    }
    void clearRequests()
    {
        QFile file(logPath);
        if (file.open(QIODevice::ReadOnly))
            requestsSeen = QString::fromLatin1(file.readAll()).split('\n').size() - 1;
    }
    // Requests of the set-parameters command, as their section masks.
    QList<int> setMasks() const
    {
        QList<int> masks;
        for (const QString& line : requests()) {
            const QStringList bytes = line.split(' ');
            if (bytes.size() >= 4 && bytes[2] == QLatin1String("40"))
                masks << bytes[3].toInt(nullptr, 16);
        }
        return masks;
    }

    void pause() { ::kill(static_cast<pid_t>(process.processId()), SIGSTOP); }
    // The board gone at once, as when its process is killed or unplugged.
    void killNow()
    {
        process.kill();
        process.waitForFinished(3000);
    }
    void resume() { ::kill(static_cast<pid_t>(process.processId()), SIGCONT); }

  private:
    bool waitForLine()
    {
        for (int i = 0; i < 100; ++i) {
            if (process.canReadLine() || process.waitForReadyRead(100)) {
                const QByteArray line = process.readLine();
                return line.startsWith("COM" + QByteArray::number(port) + ' ');
            }
            if (process.state() != QProcess::Running)
                return false;
        }
        return false;
    }

    int port = 0;
    QTemporaryDir logDir;
    QString logPath;
    QProcess process;
    int requestsSeen = 0;
    bool ready = false;
};

// Runs a test in its own working directory, so that the settings file is
// its own.
class ScratchWorkingDirectory
{
  public:
    ScratchWorkingDirectory() : previous(QDir::currentPath()) { QDir::setCurrent(dir.path()); }
    ~ScratchWorkingDirectory() { QDir::setCurrent(previous); }
    QString path() const { return dir.path(); }
    QString settingsFile() const
    {
        return dir.filePath(
            QStringLiteral("Settings/%1.ini").arg(QCoreApplication::applicationName()));
    }

  private:
    QTemporaryDir dir;
    QString previous;
};

// Read access to what the window keeps private.
struct FInitProbe {
    static const FeatureParameterBlock& block(const FInit& w) { return w.block; }
    static const BoardLayout& layout(const FInit& w) { return w.boardLayout; }
    static const QString& boardName(const FInit& w) { return w.boardNameText; }
    static float fadeLevel(const FInit& w) { return w.fadeLevel; }
    static const QGraphicsEllipseItem& dot(const FInit& w, int i) { return w.ringDots[i]; }
    static const QGraphicsItemGroup& ring(const FInit& w) { return w.ringGroup; }
    static const QGraphicsSimpleTextItem& label(const FInit& w, int k)
    {
        return w.directionLabels[k];
    }
    static const QGraphicsRectItem& marker(const FInit& w, int m) { return w.micMarkers[m]; }
    static const QGraphicsPolygonItem& wedge(const FInit& w) { return w.beamWedge; }
    static void lightRing(FInit& w, int angle) { w.lightRing(angle); }
    // Reads the board's whole block through the window's own link.
    static int readBoard(FInit& w, FeatureParameterBlock& out)
    {
        return w.link->GetParameters(BOARD_ADDRESS, PARAM_ALL, out);
    }
    // Writes sections straight to the board, past the window's handlers.
    static int writeBoard(FInit& w, unsigned mask, const FeatureParameterBlock& in)
    {
        return w.link->SetParameters(BOARD_ADDRESS, mask, in);
    }
};

template <typename T> T* child(const FInit& w, const char* name)
{
    T* widget = w.findChild<T*>(QLatin1String(name));
    if (!widget)
        qFatal("no child %s", name);
    return widget;
}

inline QStringList logLines(const FInit& w)
{
    return child<QTextEdit>(w, "tE_Log")->toPlainText().split('\n');
}

// Opens the board's port through the connection panel.
inline void clickOpen(FInit& w, int port)
{
    child<QSpinBox>(w, "sB_PortNumber")->setValue(port);
    child<QPushButton>(w, "pb_OpenCloseCOM")->click();
}

// Opens the board's port through the connection panel; true when the window
// reports the port opened.
inline bool connectTo(FInit& w, const EmulatedBoard& board)
{
    if (!board.isReady())
        return false;
    clickOpen(w, board.portNumber());
    return logLines(w).contains(QStringLiteral("COM%1 opened").arg(board.portNumber()));
}

// A user click on a checkable group box: the tick changes, then clicked().
inline void clickGroup(FInit& w, const char* name)
{
    QGroupBox* box = child<QGroupBox>(w, name);
    box->setChecked(!box->isChecked());
    QMetaObject::invokeMethod(box, "clicked", Q_ARG(bool, box->isChecked()));
}

// Which of the 90 ring dots are red.
inline QList<int> litDots(const FInit& w)
{
    QList<int> lit;
    for (int i = 0; i < 90; ++i) {
        if (FInitProbe::dot(w, i).brush().color() == QColor(Qt::red))
            lit << i;
    }
    return lit;
}
