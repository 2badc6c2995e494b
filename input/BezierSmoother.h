#pragma once

namespace tl::input {

// Smooths one contact's positions with a degree-9 Bezier curve over the last ten
// inputs. With t = 0.8 the newest input weighs 0.8^9 (about 0.13) and the two
// before it about 0.30 each, so the output trails the pen by a few reports.
// Fixed-size, no allocation.
class BezierSmoother
{
public:
    static constexpr int kPoints = 10;

    struct Pos
    {
        int x = 0;
        int y = 0;
    };

    // Adds an input. The first one after clear() fills the whole history; an
    // input equal to the last one is ignored (returns false). historyMode 1
    // keeps a plain list of inputs; other modes feed the last output back in.
    bool addSample(int x, int y, int historyMode);

    // The curve point at t; each coordinate truncated. Remembered as the last
    // output.
    Pos evaluate(double t);

    void clear();

    bool initialised() const { return m_initialised; }
    const Pos &history(int i) const { return m_history[i]; }
    Pos lastOutput() const { return m_lastOutput; }

    // The basis weights of the ten history points at t (Bernstein of degree 9,
    // through the B-spline recursion in single precision).
    static void basis(float t, float out[kPoints]);

private:
    // The weights of the last t; t hardly ever changes, the recursion is the
    // costly part of an evaluation.
    float m_weights[kPoints] = {};
    float m_weightsT = -1.0f;
    Pos m_history[kPoints];
    Pos m_lastInput;
    Pos m_lastOutput;
    bool m_initialised = false;
};

} // namespace tl::input
