// SPDX-License-Identifier: Apache-2.0
#include "tests/integration/SimProcess.h"

#include <QElapsedTimer>
#include <QThread>

namespace matrix::testing {

SimProcess::SimProcess(const QStringList& arguments)
{
    process_.setProgram(QStringLiteral(MATRIX_SIM_PATH));
    process_.setArguments(arguments);
    process_.start();
    process_.waitForStarted(5000);
}

SimProcess::~SimProcess()
{
    if (!running())
        return;
    process_.terminate();
    if (!process_.waitForFinished(3000)) {
        process_.kill();
        process_.waitForFinished(3000);
    }
}

bool SimProcess::nextLine(std::string& line, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (cursor_ < lines_.size()) {
            line = lines_[cursor_++];
            return true;
        }
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0)
            return false;
        if (process_.bytesAvailable() == 0 && !process_.waitForReadyRead(static_cast<int>(left)) &&
            process_.bytesAvailable() == 0)
            return false;
        partial_ += process_.readAllStandardOutput().toStdString();
        std::size_t end;
        while ((end = partial_.find('\n')) != std::string::npos) {
            lines_.push_back(partial_.substr(0, end));
            partial_.erase(0, end + 1);
        }
    }
}

std::string SimProcess::waitForLine(const std::string& prefix, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    std::string line;
    while (nextLine(line, static_cast<int>(timeoutMs - clock.elapsed())))
        if (line.compare(0, prefix.size(), prefix) == 0)
            return line;
    return {};
}

std::string SimProcess::command(const std::string& line, int timeoutMs)
{
    process_.write((line + "\n").c_str());
    process_.waitForBytesWritten(timeoutMs);
    QElapsedTimer clock;
    clock.start();
    std::string answer;
    while (nextLine(answer, static_cast<int>(timeoutMs - clock.elapsed()))) {
        if (answer.compare(0, 3, "ok ") == 0 || answer.compare(0, 6, "error ") == 0) {
            const std::size_t space = answer.find(' ');
            if (answer.compare(space + 1, line.size(), line) == 0)
                return answer;
        }
    }
    return {};
}

bool SimProcess::waitForLinks(std::size_t count, int timeoutMs)
{
    const std::string wanted = "ok links " + std::to_string(count);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        if (command("links") == wanted)
            return true;
        QThread::msleep(10);
    }
    return false;
}

int SimProcess::terminate(int timeoutMs)
{
    if (running()) {
        process_.terminate();
        if (!process_.waitForFinished(timeoutMs))
            return -1;
    }
    partial_ += process_.readAllStandardOutput().toStdString();
    std::size_t end;
    while ((end = partial_.find('\n')) != std::string::npos) {
        lines_.push_back(partial_.substr(0, end));
        partial_.erase(0, end + 1);
    }
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

std::string SimProcess::errors() { return process_.readAllStandardError().toStdString(); }

}  // namespace matrix::testing
