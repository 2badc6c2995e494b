#include "input/BezierSmoother.h"

namespace tl::input {

namespace {

// Order 10 (degree 9) on the clamped knot vector of 10 zeros followed by ones:
// the first ten basis functions are then exactly the Bernstein polynomials on
// [0, 1).
constexpr int kOrder = 10;
constexpr int kKnots = 28;

float knot(int i)
{
    return i < kOrder ? 0.0f : 1.0f;
}

} // namespace

void BezierSmoother::basis(float t, float out[kPoints])
{
    // Cox-de Boor, bottom-up: n[i] holds N(i, order) for the current order.
    float n[kKnots] = {};
    for (int i = 0; i < kKnots - 1; ++i)
        n[i] = (knot(i) <= t && t < knot(i + 1)) ? 1.0f : 0.0f;
    for (int order = 2; order <= kOrder; ++order) {
        for (int i = 0; i + order < kKnots; ++i) {
            float v = 0.0f;
            const float d1 = knot(i + order - 1) - knot(i);
            if (d1 != 0.0f)
                v += (t - knot(i)) / d1 * n[i];
            const float d2 = knot(i + order) - knot(i + 1);
            if (d2 != 0.0f)
                v += (knot(i + order) - t) / d2 * n[i + 1];
            n[i] = v;
        }
    }
    for (int k = 0; k < kPoints; ++k)
        out[k] = n[k];
}

bool BezierSmoother::addSample(int x, int y, int historyMode)
{
    if (!m_initialised) {
        for (Pos &p : m_history)
            p = Pos{x, y};
        m_lastInput = Pos{x, y};
        m_initialised = true;
        return true;
    }
    if (x == m_lastInput.x && y == m_lastInput.y)
        return false;
    const Pos newest = m_history[kPoints - 1];
    for (int i = 0; i < kPoints - 2; ++i)
        m_history[i] = m_history[i + 1];
    m_history[kPoints - 2] = historyMode == 1 ? newest : m_lastOutput;
    m_history[kPoints - 1] = Pos{x, y};
    m_lastInput = Pos{x, y};
    return true;
}

BezierSmoother::Pos BezierSmoother::evaluate(double t)
{
    const float tf = static_cast<float>(t);
    if (tf != m_weightsT) {
        basis(tf, m_weights);
        m_weightsT = tf;
    }
    float sx = 0.0f;
    float sy = 0.0f;
    for (int k = 0; k < kPoints; ++k) {
        const float b = m_weights[k];
        sx += b * static_cast<float>(m_history[k].x);
        sy += b * static_cast<float>(m_history[k].y);
    }
    m_lastOutput = Pos{static_cast<int>(sx), static_cast<int>(sy)};
    return m_lastOutput;
}

void BezierSmoother::clear()
{
    for (Pos &p : m_history)
        p = Pos();
    m_lastInput = Pos();
    m_lastOutput = Pos();
    m_initialised = false;
}

} // namespace tl::input
