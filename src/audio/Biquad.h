#pragma once

#include <cstdint>

// Second-order filter section in direct form I, coefficients normalised by a0 (RBJ
// audio cookbook). Coefficients and state are kept apart so that a redesign keeps the
// state and does not click.
struct BiquadCoefficients {
    float b0 = 1.0f;
    float b1 = 0.0f;
    float b2 = 0.0f;
    float a1 = 0.0f;
    float a2 = 0.0f;
};

struct BiquadState {
    float x1 = 0.0f;
    float x2 = 0.0f;
    float y1 = 0.0f;
    float y2 = 0.0f;

    // y = b0 x + b1 x1 + b2 x2 - a1 y1 - a2 y2, summed so that the term of the previous
    // output comes last: the recursion then waits for one multiply and one subtraction.
    float Process(const BiquadCoefficients& k, float x)
    {
        const float y = (k.b0 * x + k.b1 * x1 + k.b2 * x2 - k.a2 * y2) - k.a1 * y1;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
};

// Low-pass with the given cutoff; q2 is the divisor of sin(w0) in alpha (1.4142 for
// Q = 0.7071). Each stage's constants differ slightly, so they are passed in.
BiquadCoefficients DesignLowPass(float cutoffHz, float sampleRate, float q2);

// High-pass with the given cutoff, alpha = sin(w0) / q2.
BiquadCoefficients DesignHighPass(float cutoffHz, float sampleRate, float q2);

// Low shelf with amplitude A (10^(dB/40)), alpha = sin(w0) / q2.
BiquadCoefficients DesignLowShelf(float cutoffHz, float sampleRate, float amplitude, float q2);
