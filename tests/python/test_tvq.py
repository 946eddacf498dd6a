"""The Python module against the command-line tool and its own rules: every command's
bytes, dtypes and shapes, bad arrays, progress, Ctrl+C, threads and reference leaks."""
import gc
import json
import os
import signal
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

import tvq

TOOL = os.environ["TVQ_BINARY"]


def pattern(height, width, channels, dtype):
    """Edges, a gradient and, with alpha, a transparent corner."""
    y, x = np.mgrid[0:height, 0:width]
    planes = []
    for c in range(channels):
        if channels in (2, 4) and c == channels - 1:
            planes.append(np.where((x < 6) & (y < 5), 0, np.where(x + y < 20, 128, 255)))
        else:
            edge = np.where((x > 12) & (x < 25) & (y > 8), 180, 40)
            planes.append((edge + 3 * x + 2 * y + 30 * c) % 256)
    a = np.stack(planes, axis=-1).astype(np.float64)
    if dtype == np.uint16:
        a = a * 257
    elif dtype == np.float32:
        a = a + 0.25
    a = a.astype(dtype)
    return a[:, :, 0] if channels == 1 else a


INPUTS = [("rgb8.png", 3, np.uint8), ("grey8.png", 1, np.uint8),
          ("rgba16.png", 4, np.uint16), ("rgb.pfm", 3, np.float32)]

# (tool arguments, module call)
COMMANDS = [
    (["resample", "--iterations", "4"], lambda a: tvq.resample(a, iterations=4)),
    (["resample", "--iterations", "3", "--dering", "Global, modified", "--mask", "--smooth", "2"],
     lambda a: tvq.resample(a, iterations=3, dering="Global, modified", mask=True, smooth=2)),
    (["dering", "--method", "5", "--initial", "source"],
     lambda a: tvq.dering(a, method=5, initial="source")),
    (["mask", "--threshold", "20"], lambda a: tvq.edge_mask(a, threshold=20)),
    (["upscale", "--method", "gradient-color"], lambda a: tvq.upscale(a, method="gradient-color")),
    (["upscale", "--method", "lanczos"], lambda a: tvq.upscale(a, method="lanczos")),
    (["downsample"], tvq.downsample),
    (["noise"], tvq.add_noise),
    (["grey"], tvq.greyscale),
    (["canny", "--sigma", "2"], lambda a: tvq.canny(a, sigma=2)),
    (["resize", "--size", "50x20!", "--filter", "mitchell"],
     lambda a: tvq.resize(a, size="50x20!", filter="mitchell")),
    (["resize", "--scale", "0.5"], lambda a: tvq.resize(a, scale=0.5)),
    (["resample", "--iterations", "2", "--scale", "3"],
     lambda a: tvq.resample(a, iterations=2, scale=3)),
    (["upscale", "--method", "nedi", "--size", "60x"],
     lambda a: tvq.upscale(a, method="nedi", size="60x")),
]


@pytest.fixture(scope="module")
def inputs(tmp_path_factory):
    folder = tmp_path_factory.mktemp("inputs")
    for name, channels, dtype in INPUTS:
        tvq.write(str(folder / name), pattern(29, 37, channels, dtype))
    return folder


@pytest.mark.parametrize("name", [i[0] for i in INPUTS])
@pytest.mark.parametrize("args,call", COMMANDS, ids=[" ".join(c[0]) for c in COMMANDS])
def test_results_are_the_tools_bytes(inputs, tmp_path, name, args, call):
    ext = os.path.splitext(name)[1]
    subprocess.run([TOOL, *args, str(inputs / name), str(tmp_path / ("tool" + ext))], check=True)
    array, info = tvq.read(str(inputs / name))
    result = call(array)
    assert result.dtype == array.dtype
    tvq.write(str(tmp_path / ("py" + ext)), result, icc=info["icc"])
    assert (tmp_path / ("py" + ext)).read_bytes() == (tmp_path / ("tool" + ext)).read_bytes()


def test_psnr_gives_the_tools_numbers(inputs, tmp_path):
    a, _ = tvq.read(str(inputs / "rgb8.png"))
    b = tvq.add_noise(a)
    tvq.write(str(tmp_path / "b.png"), b)
    out = subprocess.run([TOOL, "psnr", str(inputs / "rgb8.png"), str(tmp_path / "b.png")],
                         check=True, capture_output=True, text=True).stdout
    mse, psnr = tvq.psnr(a, b)
    assert out == "MSE = %.15g\nPSNR = %.15g\n" % (mse, psnr)
    assert tvq.psnr(a, a)[1] == float("inf")


@pytest.mark.parametrize("shave,crop", [(0, False), (3, True)])
def test_compare_gives_the_tools_json(inputs, tmp_path, shave, crop):
    a, _ = tvq.read(str(inputs / "rgb8.png"))
    b = tvq.add_noise(a)[: 27 if crop else None]
    tvq.write(str(tmp_path / "b.png"), b)
    out = subprocess.run([TOOL, "compare", "--json", "--shave", str(shave)]
                         + (["--crop"] if crop else [])
                         + [str(inputs / "rgb8.png"), str(tmp_path / "b.png")],
                         check=True, capture_output=True, text=True).stdout
    tool = json.loads(out)
    del tool["reference"], tool["test"]
    got = tvq.compare(a, b, shave=shave, crop=crop)
    assert json.loads(json.dumps(got)) == tool
    assert tvq.compare(a, a)["psnr_rgb"] is None  # inf, as the JSON's null


@pytest.mark.parametrize("dtype", [np.uint8, np.uint16, np.float32])
@pytest.mark.parametrize("shape", [(13, 17), (13, 17, 3), (13, 17, 4)])
def test_dtypes_and_shapes(dtype, shape):
    a = pattern(shape[0], shape[1], shape[2] if len(shape) == 3 else 1, dtype)
    for result, size in ((tvq.resample(a, iterations=2), (26, 34)), (tvq.dering(a), (13, 17)),
                         (tvq.downsample(a), (6, 8))):
        assert result.dtype == dtype
        assert result.shape == size + shape[2:]
    assert tvq.greyscale(a).shape == (13, 17) + ((2,) if shape[2:] == (4,) else ())


def test_any_strides_give_the_packed_result():
    a = pattern(20, 30, 3, np.uint8)
    expected = tvq.resample(a, iterations=2)
    wide = np.zeros((20, 60, 3), np.uint8)
    wide[:, ::2] = a
    for view in (wide[:, ::2], np.asfortranarray(a), a[::-1][::-1], a.astype(np.uint8, order="F")):
        assert np.array_equal(tvq.resample(view, iterations=2), expected)
    flipped = a[::-1]
    assert np.array_equal(tvq.resample(flipped, iterations=2),
                          tvq.resample(np.ascontiguousarray(flipped), iterations=2))


@pytest.mark.parametrize("array,error,words", [
    (np.zeros((0, 5, 3), np.uint8), ValueError, "each side"),
    (np.zeros((2, 2, 5), np.uint8), ValueError, "H x W x 3"),
    (np.zeros((2, 2, 2, 3), np.uint8), ValueError, "H x W x 3"),
    (np.zeros(5, np.uint8), ValueError, "H x W x 3"),
    (np.zeros((4, 4), np.int64), TypeError, "uint8, uint16 or float32"),
    (np.zeros((4, 4), np.float64), TypeError, "uint8, uint16 or float32"),
    (np.zeros((4, 4), ">u2"), TypeError, "native order"),
    ([[1, 2], [3, 4]], TypeError, "numpy array"),
    (np.array([[1, np.nan], [3, 4]], np.float32), ValueError, "not finite"),
])
def test_bad_arrays_raise_clear_exceptions(array, error, words):
    with pytest.raises(error, match=words):
        tvq.greyscale(array)


@pytest.mark.parametrize("keywords,error,message", [
    ({"step": 2000}, ValueError, "--step: 2000 is too large: the range is 0 to 1000"),
    ({"iterations": 2.5}, ValueError, "--iterations: 2.5 is not a whole number"),
    ({"stabilizer": "foo"}, ValueError, "--stabilizer: 'foo' is not one of laplace"),
    ({"threshold": 5}, ValueError, "mask options need --mask"),
    ({"itrations": 5}, TypeError, "unexpected keyword argument 'itrations'"),
    ({"iterations": [5]}, TypeError, "takes a number"),
    ({"threads": -1}, ValueError, "--threads"),
])
def test_bad_settings_raise_the_tools_message(keywords, error, message):
    with pytest.raises(error, match=message.replace("(", r"\(")):
        tvq.resample(pattern(8, 8, 3, np.uint8), **keywords)


def test_files(tmp_path):
    a = pattern(10, 12, 3, np.uint16)
    # The header of an RGB display profile: size, class, colour space, "acsp".
    icc = bytearray(132)
    icc[0:4], icc[12:24], icc[36:40] = (132).to_bytes(4, "big"), b"mntrRGB XYZ ", b"acsp"
    tvq.write(str(tmp_path / "a.tif"), a, icc=bytes(icc))
    back, info = tvq.read(str(tmp_path / "a.tif"))
    assert np.array_equal(back, a) and back.dtype == np.uint16
    assert (info["format"], info["bits_per_channel"], info["icc"]) == ("TIFF", 16, bytes(icc))
    with pytest.raises(OSError, match="missing.png"):
        tvq.read(str(tmp_path / "missing.png"))
    with pytest.raises(ValueError, match="quality"):
        tvq.write(str(tmp_path / "a.jpg"), a, quality=0)


def test_docstrings_list_defaults_and_ranges():
    doc = tvq.resample.__doc__
    assert "iterations: solver iterations, 0 = the initial approximation; default 40; " \
           "a whole number 0 to 100000" in doc
    assert "stabilizer: regularization; default 'btv3'" in doc
    assert "sigma: " in tvq.canny.__doc__ and "default 1.5" in tvq.canny.__doc__


def test_progress_runs_on_the_calling_thread_and_stops():
    a = pattern(40, 50, 3, np.uint8)
    seen = []
    tvq.resample(a, iterations=5, threads=2,
                 progress=lambda f, stage: seen.append((threading.get_ident(), f, stage)))
    assert {s[0] for s in seen} == {threading.get_ident()}
    assert all(0.0 <= s[1] <= 1.0 for s in seen) and ("Iterations [3]" in [s[2] for s in seen])
    with pytest.raises(tvq.Stopped):
        tvq.resample(a, progress=lambda f, stage: not stage.startswith("Iterations"))

    def fails(fraction, stage):
        raise RuntimeError("from the callable")
    with pytest.raises(RuntimeError, match="from the callable"):
        tvq.dering(a, progress=fails)


def test_ctrl_c_raises_keyboard_interrupt_within_a_second():
    a = pattern(300, 300, 3, np.uint8)
    sent = []

    def interrupt():
        time.sleep(0.3)
        sent.append(time.monotonic())
        os.kill(os.getpid(), signal.SIGINT)
    threading.Thread(target=interrupt).start()
    with pytest.raises(KeyboardInterrupt):
        tvq.resample(a, iterations=100000)
    assert time.monotonic() - sent[0] < 1.0


def test_two_threads_at_once():
    arrays = [pattern(60, 70, 3, np.uint8), pattern(50, 40, 4, np.uint16)]
    expected = [tvq.resample(a, iterations=5) for a in arrays]
    results = [None, None]

    def work(i):
        for _ in range(3):
            results[i] = tvq.resample(arrays[i], iterations=5)
    threads = [threading.Thread(target=work, args=(i,)) for i in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(np.array_equal(r, e) for r, e in zip(results, expected))


def test_no_reference_leaks_over_1000_calls():
    a = pattern(16, 16, 3, np.float32)
    refs = sys.getrefcount(a)
    for _ in range(50):
        tvq.greyscale(a, progress=lambda f, s: True)
    gc.collect()
    objects = len(gc.get_objects())
    for _ in range(1000):
        tvq.greyscale(a, progress=lambda f, s: True)
        tvq.psnr(a, a)
    gc.collect()
    assert sys.getrefcount(a) == refs
    assert len(gc.get_objects()) - objects < 50
