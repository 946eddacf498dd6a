"""Checks tvq compare against scikit-image and against NumPy transcriptions of the
MS-SSIM and GMSD authors' code, within 1e-6.

Usage: metrics_skimage.py TVQ_BINARY SCRATCH_DIR. Exits 77 (skipped) without skimage.
"""
import json
import os
import subprocess
import sys

try:
    import numpy as np
    from skimage.metrics import peak_signal_noise_ratio, structural_similarity
except ImportError:
    print("scikit-image is not installed (Debian: python3-skimage); skipped")
    sys.exit(77)

TOLERANCE = 1e-6
WEIGHTS = [0.0448, 0.2856, 0.3001, 0.2363, 0.1333]


def write_pfm(path, rgb):
    """Colour PFM: little-endian float32 rows, the bottom row first."""
    h, w, _ = rgb.shape
    with open(path, "wb") as f:
        f.write(b"PF\n%d %d\n-1.0\n" % (w, h))
        f.write(np.ascontiguousarray(rgb[::-1], dtype="<f4").tobytes())


def luma(rgb):
    rgb = rgb.astype(np.float64)
    return 16.0 + (65.481 * rgb[..., 0] + 128.553 * rgb[..., 1] + 24.966 * rgb[..., 2]) / 255.0


def ssim_terms(a, b):
    """Mean SSIM and mean contrast-structure term (Gaussian 11x11, 1.5, valid region)."""
    from scipy.ndimage import gaussian_filter

    c1, c2 = (0.01 * 255) ** 2, (0.03 * 255) ** 2

    def f(x):
        return gaussian_filter(x, 1.5, truncate=3.5)[5:-5, 5:-5]

    ma, mb = f(a), f(b)
    va, vb, cov = f(a * a) - ma * ma, f(b * b) - mb * mb, f(a * b) - ma * mb
    cs = (2 * cov + c2) / (va + vb + c2)
    return (((2 * ma * mb + c1) / (ma * ma + mb * mb + c1)) * cs).mean(), cs.mean()


def ms_ssim(a, b):
    """The authors' msssim.m: 2x2 box filter with symmetric borders, every second pixel."""
    result = 1.0
    for scale in range(5):
        ssim, cs = ssim_terms(a, b)
        result *= max(cs if scale < 4 else ssim, 0.0) ** WEIGHTS[scale]
        if scale < 4:
            a, b = [np.pad(x, ((0, 1), (0, 1)), mode="symmetric") for x in (a, b)]
            a, b = [(x[:-1:2, :-1:2] + x[1::2, :-1:2] + x[:-1:2, 1::2] + x[1::2, 1::2])[
                : (x.shape[0]) // 2, : (x.shape[1]) // 2] / 4 for x in (a, b)]
    return result


def gmsd(a, b):
    """The authors' GMSD.m: conv2 'same' with zero borders, std2 of the map."""

    def halve(x):
        p = np.pad(x, ((0, 1), (0, 1)))
        return ((p[:-1, :-1] + p[1:, :-1] + p[:-1, 1:] + p[1:, 1:]) / 4)[::2, ::2]

    def magnitude(x):
        p = np.pad(x, 1)
        gx = (p[:-2, 2:] + p[1:-1, 2:] + p[2:, 2:] - p[:-2, :-2] - p[1:-1, :-2] - p[2:, :-2]) / 3
        gy = (p[2:, :-2] + p[2:, 1:-1] + p[2:, 2:] - p[:-2, :-2] - p[:-2, 1:-1] - p[:-2, 2:]) / 3
        return np.sqrt(gx * gx + gy * gy)

    m1, m2 = magnitude(halve(a)), magnitude(halve(b))
    q = (2 * m1 * m2 + 170) / (m1 * m1 + m2 * m2 + 170)
    return q.std(ddof=1)


def main():
    tvq, scratch = sys.argv[1], sys.argv[2]
    os.makedirs(scratch, exist_ok=True)
    rng = np.random.default_rng(2024)
    failures = 0
    # Odd sizes, a smooth picture with edges, and distortions of several strengths.
    for (w, h, noise, shave) in [(200, 177, 3.0, 0), (181, 203, 12.0, 2), (64, 40, 30.0, 4)]:
        yy, xx = np.mgrid[0:h, 0:w]
        base = 128 + 60 * np.sin(xx / 7.0) * np.cos(yy / 11.0) + 40 * ((xx // 23 + yy // 17) % 2)
        ref = np.stack([base, np.roll(base, 5, axis=1), 255 - base], axis=-1).clip(0, 255)
        ref = np.round(ref)
        test = (ref + rng.normal(0, noise, ref.shape)).clip(0, 255)
        test = np.round(test)
        pa, pb = [os.path.join(scratch, n) for n in ("reference.pfm", "test.pfm")]
        write_pfm(pa, ref.astype(np.float32))
        write_pfm(pb, test.astype(np.float32))
        out = subprocess.run([tvq, "compare", "--json", "--shave", str(shave), pa, pb],
                             check=True, capture_output=True, text=True).stdout
        got = json.loads(out)
        s = (slice(shave, h - shave), slice(shave, w - shave))
        ya, yb = luma(ref)[s], luma(test)[s]
        expected = {
            "psnr_rgb": peak_signal_noise_ratio(ref[s], test[s], data_range=255),
            "psnr_y": peak_signal_noise_ratio(ya, yb, data_range=255),
            "ssim": structural_similarity(ya, yb, gaussian_weights=True, sigma=1.5,
                                          use_sample_covariance=False, data_range=255),
        }
        if min(ya.shape) >= 161:
            expected["ms_ssim"] = ms_ssim(ya, yb)
        else:
            expected["ms_ssim"] = None
        expected["gmsd"] = gmsd(ya, yb)
        for key, value in expected.items():
            ok = got[key] is None if value is None else (
                got[key] is not None and abs(got[key] - value) <= TOLERANCE)
            print("%dx%d shave %d %-8s tvq %-22r expected %r%s" % (
                w, h, shave, key, got[key], value, "" if ok else "  MISMATCH"))
            failures += 0 if ok else 1
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
