// Measures what a drive does to test signals, from WAV files (the first
// channel), whoever rendered them: the DSP core (kv_render_dsp), the real
// plug-ins (kv23 process) or a peer (lv2apply).
//
//   kv_alias_analysis folded FILE HZ [--skip S] [--seconds S]
//       Folded energy of a sine of HZ: everything below Nyquist that is not
//       a multiple of HZ, relative to the fundamental. Blackman window over
//       1 s after `skip` s of settling; every multiple of HZ (and DC, with
//       the high-pass's leftovers) owns the bins within 50 Hz of it (the
//       window's leakage there is below -130 dB). Prints the fundamental
//       (dBFS), the strongest harmonic and the folded energy (dBc).
//   kv_alias_analysis match A B LATENCY [--skip S]
//       Error energy of B, advanced by LATENCY samples, against A, relative
//       to A's energy (dB).
//   kv_alias_analysis bands A B LATENCY [--skip S]
//       Third-octave band levels of A and B (B advanced by LATENCY) from
//       20 Hz to 5 kHz (Welch, Hann, 2^15 points): the largest difference
//       (dB), then each band.
//   kv_alias_analysis click FILE AT [--cutoff HZ]
//       The output above HZ (default 2 kHz; a 4th-order Butterworth
//       high-pass) around AT seconds (+-50 ms): its peak (dBFS), beside
//       the same measure over a quiet stretch before (the floor).
#include <fftw3.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <string>
#include <vector>

namespace {

struct Signal {
    std::vector<double> x;
    double rate = 0.0;
};

bool readFirstChannel(const char* path, Signal& s) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path, SFM_READ, &info);
    if (!f) {
        std::fprintf(stderr, "cannot read %s: %s\n", path, sf_strerror(nullptr));
        return false;
    }
    std::vector<double> all(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
    sf_readf_double(f, all.data(), info.frames);
    sf_close(f);
    s.rate = info.samplerate;
    s.x.resize(static_cast<size_t>(info.frames));
    for (size_t i = 0; i < s.x.size(); ++i)
        s.x[i] = all[i * static_cast<size_t>(info.channels)];
    return true;
}

double db(double power) {
    return 10.0 * std::log10(std::max(power, 1e-300));
}

// |X(k)|^2 of x[0..n) windowed, k = 0..n/2.
std::vector<double> powerSpectrum(const double* x, size_t n, bool blackman) {
    std::vector<double> in(n);
    const double twoPi = 2.0 * std::numbers::pi;
    for (size_t i = 0; i < n; ++i) {
        const double p = twoPi * static_cast<double>(i) / static_cast<double>(n);
        const double w = blackman ? 0.42 - 0.5 * std::cos(p) + 0.08 * std::cos(2.0 * p)
                                  : 0.5 - 0.5 * std::cos(p);
        in[i] = x[i] * w;
    }
    std::vector<fftw_complex> out(n / 2 + 1);
    fftw_plan plan =
        fftw_plan_dft_r2c_1d(static_cast<int>(n), in.data(), out.data(), FFTW_ESTIMATE);
    fftw_execute(plan);
    fftw_destroy_plan(plan);
    std::vector<double> p(n / 2 + 1);
    for (size_t k = 0; k < p.size(); ++k)
        p[k] = out[k][0] * out[k][0] + out[k][1] * out[k][1];
    return p;
}

double option(int argc, char** argv, const char* name, double fallback) {
    for (int i = 0; i + 1 < argc; ++i)
        if (std::string(argv[i]) == name) return std::strtod(argv[i + 1], nullptr);
    return fallback;
}

int folded(const Signal& s, double hz, double skip, double seconds) {
    const auto start = static_cast<size_t>(skip * s.rate);
    const auto n = static_cast<size_t>(seconds * s.rate);
    if (start + n > s.x.size()) {
        std::fprintf(stderr, "the file is shorter than %g s + %g s\n", skip, seconds);
        return 1;
    }
    const std::vector<double> p = powerSpectrum(s.x.data() + start, n, true);
    const double binHz = s.rate / static_cast<double>(n);
    const double guard = 50.0;
    double fundamental = 0.0, strongest = 0.0, rest = 0.0;
    for (size_t k = 0; k < p.size(); ++k) {
        const double f = static_cast<double>(k) * binHz;
        if (f >= s.rate / 2.0 - guard) break;  // the window's skirt at Nyquist
        const double multiple = std::round(f / hz);
        if (std::fabs(f - multiple * hz) > guard) {
            rest += p[k];
        } else if (multiple == 1.0) {
            fundamental += p[k];
        }
    }
    for (int h = 2; h * hz < s.rate / 2.0 - guard; ++h) {
        double sum = 0.0;
        for (size_t k = 0; k < p.size(); ++k) {
            const double f = static_cast<double>(k) * binHz;
            if (std::fabs(f - h * hz) <= guard) sum += p[k];
        }
        strongest = std::max(strongest, sum);
    }
    // The window's power gain and the one-sided spectrum cancel in ratios;
    // the fundamental's level in dBFS uses both.
    double windowPower = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double q = 2.0 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n);
        const double w = 0.42 - 0.5 * std::cos(q) + 0.08 * std::cos(2.0 * q);
        windowPower += w * w;
    }
    const double fundamentalDbfs = db(2.0 * fundamental / (windowPower * static_cast<double>(n)) *
                                      2.0);  // peak of a full-scale sine = 0 dBFS
    std::printf("fundamental %7.2f dBFS  strongest harmonic %8.2f dBc  folded %8.2f dBc\n",
                fundamentalDbfs, db(strongest / fundamental), db(rest / fundamental));
    return 0;
}

int match(const Signal& a, const Signal& b, long latency, double skip) {
    const auto start = static_cast<size_t>(skip * a.rate);
    double err = 0.0, sig = 0.0;
    for (size_t i = start; i < a.x.size() && i + static_cast<size_t>(latency) < b.x.size(); ++i) {
        const double d = b.x[i + static_cast<size_t>(latency)] - a.x[i];
        err += d * d;
        sig += a.x[i] * a.x[i];
    }
    if (err == 0.0) {
        std::printf("error none (identical)\n");
    } else {
        std::printf("error %8.2f dB\n", db(err / sig));
    }
    return 0;
}

int bands(const Signal& a, const Signal& b, long latency, double skip) {
    const size_t n = 1 << 15;
    const auto start = static_cast<size_t>(skip * a.rate);
    std::vector<double> pa(n / 2 + 1, 0.0), pb(n / 2 + 1, 0.0);
    for (size_t at = start;
         at + n + static_cast<size_t>(latency) <= std::min(a.x.size(), b.x.size()); at += n / 2) {
        const auto sa = powerSpectrum(a.x.data() + at, n, false);
        const auto sb = powerSpectrum(b.x.data() + at + latency, n, false);
        for (size_t k = 0; k < sa.size(); ++k) {
            pa[k] += sa[k];
            pb[k] += sb[k];
        }
    }
    const double binHz = a.rate / static_cast<double>(n);
    double worst = 0.0;
    std::string detail;
    // Third-octave centres 1000 * 2^(i/3) from 20 Hz to 5 kHz.
    for (int i = -17; i <= 7; ++i) {
        const double centre = 1000.0 * std::pow(2.0, i / 3.0);
        const double lo = centre * std::pow(2.0, -1.0 / 6.0),
                     hi = centre * std::pow(2.0, 1.0 / 6.0);
        double ea = 0.0, eb = 0.0;
        for (size_t k = 0; k < pa.size(); ++k) {
            const double f = static_cast<double>(k) * binHz;
            if (f >= lo && f < hi) {
                ea += pa[k];
                eb += pb[k];
            }
        }
        const double d = db(eb) - db(ea);
        worst = std::max(worst, std::fabs(d));
        char line[64];
        std::snprintf(line, sizeof line, " %.0f:%+.4f", centre, d);
        detail += line;
    }
    std::printf("largest band difference %.4f dB\n%s\n", worst, detail.c_str());
    return 0;
}

int click(const Signal& s, double at, double cutoff) {
    // Two biquads of a 4th-order Butterworth high-pass (bilinear).
    std::vector<double> y = s.x;
    const double k = std::tan(std::numbers::pi * cutoff / s.rate);
    for (const double q : {0.5411961, 1.3065630}) {
        const double norm = 1.0 / (1.0 + k / q + k * k);
        const double a0 = norm, a1 = -2.0 * norm, a2 = norm;
        const double c1 = 2.0 * (k * k - 1.0) * norm, c2 = (1.0 - k / q + k * k) * norm;
        double z1 = 0.0, z2 = 0.0;
        for (double& v : y) {
            const double o = a0 * v + z1;
            z1 = a1 * v - c1 * o + z2;
            z2 = a2 * v - c2 * o;
            v = o;
        }
    }
    const auto peak = [&](double from, double to) {
        double m = 0.0;
        const auto i0 = static_cast<size_t>(std::max(0.0, from) * s.rate);
        const auto i1 = std::min(y.size(), static_cast<size_t>(to * s.rate));
        for (size_t i = i0; i < i1; ++i)
            m = std::max(m, std::fabs(y[i]));
        return 20.0 * std::log10(std::max(m, 1e-15));
    };
    std::printf("click %8.2f dBFS  floor %8.2f dBFS\n", peak(at - 0.05, at + 0.05),
                peak(at - 0.25, at - 0.1));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: see the comment at the top of bench/alias_analysis.cpp\n");
        return 2;
    }
    const std::string what = argv[1];
    Signal a;
    if (!readFirstChannel(argv[2], a)) return 1;
    const double skip = option(argc, argv, "--skip", 0.5);
    if (what == "folded")
        return folded(a, std::strtod(argv[3], nullptr), skip, option(argc, argv, "--seconds", 1.0));
    if (what == "click")
        return click(a, std::strtod(argv[3], nullptr), option(argc, argv, "--cutoff", 2000.0));
    if (argc < 5) return 2;
    Signal b;
    if (!readFirstChannel(argv[3], b)) return 1;
    const long latency = std::strtol(argv[4], nullptr, 10);
    if (what == "match") return match(a, b, latency, skip);
    if (what == "bands") return bands(a, b, latency, skip);
    return 2;
}
