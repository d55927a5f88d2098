#pragma once

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define KESTROVA_DUP _dup
#define KESTROVA_DUP2 _dup2
#define KESTROVA_CLOSE _close
#else
#include <unistd.h>
#define KESTROVA_DUP dup
#define KESTROVA_DUP2 dup2
#define KESTROVA_CLOSE close
#endif

#include <QByteArray>
#include <QTemporaryFile>

// Sends everything written to standard output, by printf or by anything else
// in the process, into a temporary file until take() or destruction, so a test
// can read back the diagnostic lines exactly as a console would show them.
// What was captured is echoed to the real output afterwards, so the log of a
// failing test still shows the trace.
class StdoutCapture
{
public:
    StdoutCapture()
    {
        std::fflush(stdout);
        if (!file_.open())
            return;
        saved_ = KESTROVA_DUP(1);
        KESTROVA_DUP2(file_.handle(), 1);
    }
    ~StdoutCapture() { take(); }

    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // Ends the capture and returns the program's own lines: Qt Test writes its
    // warnings ("QWARN  : ...") to standard output too, and those go.
    QByteArray take()
    {
        QByteArray out;
        const QByteArray all = takeAll();
        for (const QByteArray& line : all.split('\n')) {
            if (line.startsWith("QWARN") || line.startsWith("QDEBUG") || line.startsWith("QINFO") ||
                line.startsWith("QSYSTEM"))
                continue;
            out += line + '\n';
        }
        out.chop(1); // split() gave one piece more than there were newlines
        return out;
    }

    // Ends the capture and returns everything that was written.
    QByteArray takeAll()
    {
        if (saved_ < 0)
            return text_;
        std::fflush(stdout);
        KESTROVA_DUP2(saved_, 1);
        KESTROVA_CLOSE(saved_);
        saved_ = -1;
        file_.seek(0);
        text_ = file_.readAll();
        std::fwrite(text_.constData(), 1, static_cast<size_t>(text_.size()), stdout);
        std::fflush(stdout);
        return text_;
    }

private:
    QTemporaryFile file_;
    int saved_ = -1;
    QByteArray text_;
};
