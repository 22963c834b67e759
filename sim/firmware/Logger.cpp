// The logger: the variables sampled every speed-loop (or current-loop)
// period into the rows the host uploads, and the same samples as scope
// frames while they are taken.
#include "Firmware.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr std::uint16_t kScopeCode = 0xE900;
constexpr int kScopeSamplesPerFrame = 10;
constexpr std::size_t kScopeQueueLimit = 4096;

void PutWord(std::vector<std::uint8_t>& bytes, std::uint16_t word)
{
    bytes.push_back(static_cast<std::uint8_t>(word & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(word >> 8));
}

} // namespace

void Firmware::StartLog(const std::vector<std::string>& variables, int points, int divider, bool fastLoop)
{
    m_log = Log{};
    // Frames of an earlier log that nobody took are of no use to this one.
    m_scopeFrames.clear();
    m_log.variables = variables;
    m_log.fastLoop = fastLoop;
    m_log.points = std::max(0, points);
    m_log.divider = std::max(1, divider);
    m_log.active = !variables.empty();
}

void Firmware::StopLog()
{
    if (m_log.scopeCount > 0)
        EmitScopeFrame();
    m_log.active = false;
}

bool Firmware::LogFull() const
{
    return static_cast<int>(m_log.rows.size()) >= m_log.points;
}

void Firmware::SampleLog()
{
    if (!m_log.active || m_log.held)
        return;
    if (++m_log.phase < m_log.divider)
        return;
    m_log.phase = 0;
    std::vector<double> row;
    row.reserve(m_log.variables.size());
    for (const std::string& name : m_log.variables)
        row.push_back(Variable(name));
    m_log.scopeSamples.insert(m_log.scopeSamples.end(), row.begin(), row.end());
    if (++m_log.scopeCount >= kScopeSamplesPerFrame)
        EmitScopeFrame();
    if (!LogFull())
        m_log.rows.push_back(std::move(row));
}

void Firmware::EmitScopeFrame()
{
    // word count, sequence number, code, then the samples: every logged value
    // as a signed 32-bit number, least significant word first.
    std::vector<std::uint8_t> frame;
    const std::size_t words = m_log.scopeSamples.size() * 2;
    frame.reserve(6 + 2 * words);
    PutWord(frame, static_cast<std::uint16_t>(words));
    PutWord(frame, m_log.scopeSequence++);
    PutWord(frame, kScopeCode);
    for (double value : m_log.scopeSamples) {
        const double clamped = std::clamp(std::floor(value + 0.5), -2147483648.0, 2147483647.0);
        const auto word = static_cast<std::uint32_t>(static_cast<std::int32_t>(clamped));
        PutWord(frame, static_cast<std::uint16_t>(word & 0xFFFF));
        PutWord(frame, static_cast<std::uint16_t>(word >> 16));
    }
    m_log.scopeSamples.clear();
    m_log.scopeCount = 0;
    if (m_scopeFrames.size() >= kScopeQueueLimit)
        m_scopeFrames.erase(m_scopeFrames.begin());
    m_scopeFrames.push_back(std::move(frame));
}

std::vector<std::vector<std::uint8_t>> Firmware::TakeScopeFrames()
{
    std::vector<std::vector<std::uint8_t>> frames;
    frames.swap(m_scopeFrames);
    return frames;
}
