#!/usr/bin/python3
"""Raw FIFF recordings written by MNE-Python, with what MNE itself reads back from them.

Run with Debian's interpreter (MNE only imports there):
    /usr/bin/python3 tests/fiff/make_fixtures.py

One recording per storage format MNE writes, and one with data skips; for each NAME,
tests/data/fiff/ gets
    mne_NAME_raw.fif    the recording
    mne_NAME.json       sampling frequency, sample numbers, names (blanks removed), kinds,
                        bads, picked names and line frequency
    mne_NAME_data.f64   calibrated data of the picked channels as MNE reads it back,
                        little-endian float64, one row per picked channel, all samples
The output is byte-for-byte the same on every run (fixed seed, fixed measurement date).
"""

import datetime
import json
import os
import struct
import sys

import mne
import numpy as np

OUT_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "fiff")
SFREQ = 1000.0
N_SAMPLES = 1000
MEAS_DATE = datetime.datetime(2024, 3, 1, 9, 30, 0, tzinfo=datetime.timezone.utc)

# name, MNE type, range, cal, amplitude of the made-up signal (physical units).
# Cal and range are chosen so that 16-bit storage keeps the signal in range; range is not 1
# on a few channels so that a reader must apply range x cal, not cal alone.
CHANNELS = [
    ("VT0001-BZ_OL", "mag", 1.0, 1e-15, 2e-12),
    ("VT0001-BZ_CL", "mag", 2.0, 5e-16, 2e-12),
    ("VT0002-BZ_OL", "mag", 1.0, 1e-15, 2e-12),
    ("VT0002-BZ_CL", "mag", 1.0, 1e-15, 2e-12),
    ("VT0003-BZ_OL", "mag", 1.0, 1e-15, 2e-12),
    ("MEG 0113", "mag", 1.0, 1e-15, 2e-12),
    ("MEG 0112", "grad", 1.0, 1e-13, 2e-10),
    ("REF 001", "ref_meg", 4.0, 2.5e-16, 2e-12),
    ("EEG 001", "eeg", 1.0, 2e-9, 2e-5),
    ("EEG 002", "eeg", 1.0, 2e-9, 0.0),  # a flat (disconnected) electrode: an all-zero row
    ("ECG 063", "ecg", 1.0, 1e-7, 1e-3),  # not picked: neither MEG, EEG nor stimulus
    ("STI 014", "stim", 1.0, 1.0, None),  # event codes
]
BADS = ["VT0002-BZ_OL", "MEG 0113"]

# One recording per storage format; first sample, line frequency and buffer length vary so
# that multi-buffer reads, a partial last buffer and a single buffer all occur. Skips are
# (first sample, count) of the written samples that MNE leaves out as data skips: it does so
# for whole buffers inside a BAD_ACQ_SKIP annotation. A skip at the start moves the first
# sample number on; one between buffers reads back as zeros.
FIXTURES = [
    dict(name="short", fmt="short", first_samp=1000, line_freq=None, buffer_sec=0.4),
    dict(name="int", fmt="int", first_samp=37, line_freq=60.0, buffer_sec=0.3),
    dict(name="single", fmt="single", first_samp=123456, line_freq=50.0, buffer_sec=1.0),
    dict(name="double", fmt="double", first_samp=1000, line_freq=50.0, buffer_sec=0.4),
    dict(name="skips", fmt="single", first_samp=500, line_freq=50.0, buffer_sec=0.1,
         skips=[(0, 200), (500, 200)]),
]


def make_signals(rng):
    t = np.arange(N_SAMPLES) / SFREQ
    rows = []
    for i, (_, kind, _, _, amp) in enumerate(CHANNELS):
        if kind == "stim":
            stim = np.zeros(N_SAMPLES)
            for onset, code in ((100, 1), (350, 5), (600, 2), (850, 32)):
                stim[onset:onset + 20] = code
            rows.append(stim)
            continue
        # A sine per channel plus noise; peaks stay below 1.6 x amp.
        sig = 0.6 * np.sin(2 * np.pi * (7.0 + 3.0 * i) * t + 0.5 * i)
        sig += 0.25 * rng.standard_normal(N_SAMPLES).clip(-3.0, 3.0)
        rows.append(amp * sig)
    return np.array(rows)


def make_info(line_freq):
    names = [c[0] for c in CHANNELS]
    types = [c[1] for c in CHANNELS]
    info = mne.create_info(names, SFREQ, types)
    for ch, (_, _, rng_, cal, _) in zip(info["chs"], CHANNELS):
        ch["range"] = rng_
        ch["cal"] = cal
    info["bads"] = list(BADS)
    with info._unlock():
        info["line_freq"] = line_freq
    return info


def expected_picks(info):
    # Our reader's selection: MEG (1), MEG reference (301), EEG (2) and stimulus (3) channels
    # minus the bads, in channel order. MNE's own selection must agree.
    wanted = {1, 2, 3, 301}
    mine = [i for i, ch in enumerate(info["chs"])
            if int(ch["kind"]) in wanted and ch["ch_name"] not in info["bads"]]
    theirs = mne.pick_types(info, meg=True, ref_meg=True, eeg=True, stim=True, exclude="bads")
    if list(theirs) != mine:
        sys.exit(f"picks differ: ours {mine}, MNE {list(theirs)}")
    return mine


def no_blanks(name):
    return name.replace(" ", "")


def count_data_skips(path):
    # Walks the tags (big-endian headers: kind, type, size, next) to make sure the skips
    # asked for are really on file as data-skip tags (kind 301).
    with open(path, "rb") as f:
        content = f.read()
    pos, skips = 0, 0
    while pos + 16 <= len(content):
        kind, _, size, nxt = struct.unpack(">iiii", content[pos:pos + 16])
        skips += kind == 301
        if nxt == -1:
            break
        pos = pos + 16 + size if nxt == 0 else nxt
    return skips


def write_fixture(spec, data):
    name, fmt = spec["name"], spec["fmt"]
    raw = mne.io.RawArray(data, make_info(spec["line_freq"]), first_samp=spec["first_samp"])
    raw.set_meas_date(MEAS_DATE)
    skips = spec.get("skips", [])
    if skips:
        raw.set_annotations(mne.Annotations(
            [raw.first_time + start / SFREQ for start, _ in skips],
            [count / SFREQ for _, count in skips], ["BAD_ACQ_SKIP"] * len(skips),
            orig_time=raw.info["meas_date"]))
    fif = os.path.join(OUT_DIR, f"mne_{name}_raw.fif")
    raw.save(fif, fmt=fmt, buffer_size_sec=spec["buffer_sec"], overwrite=True)
    if count_data_skips(fif) != len(skips):
        sys.exit(f"{fif}: MNE did not write the {len(skips)} data skips asked for")

    # Expectations come from what MNE reads back, not from the array written: 16- and 32-bit
    # storage rounds to the calibration step.
    back = mne.io.read_raw_fif(fif, preload=True)
    if [ch["ch_name"] for ch in back.info["chs"]] != [c[0] for c in CHANNELS]:
        sys.exit(f"{fif}: MNE reordered the channels")
    picks = expected_picks(back.info)
    line_freq = back.info["line_freq"]
    expected = {
        "name": name,
        "file": os.path.basename(fif),
        "format": fmt,
        "sfreq": float(back.info["sfreq"]),
        "first_samp": int(back.first_samp),
        "last_samp": int(back.last_samp),
        "nchan": len(back.ch_names),
        "ch_names": [no_blanks(n) for n in back.ch_names],
        "kinds": [int(ch["kind"]) for ch in back.info["chs"]],
        "bads": [no_blanks(n) for n in back.info["bads"]],
        "picks": [no_blanks(back.ch_names[i]) for i in picks],
        "line_freq": None if line_freq is None else float(line_freq),
    }
    values = back.get_data(picks=picks)
    if values.shape != (len(picks), back.last_samp - back.first_samp + 1):
        sys.exit(f"{fif}: unexpected data shape {values.shape}")
    expected["data"] = f"mne_{name}_data.f64"
    values.astype("<f8").tofile(os.path.join(OUT_DIR, expected["data"]))
    with open(os.path.join(OUT_DIR, f"mne_{name}.json"), "w", encoding="utf-8") as out:
        json.dump(expected, out, indent=1)
        out.write("\n")


def main():
    mne.set_log_level("ERROR")
    os.makedirs(OUT_DIR, exist_ok=True)
    data = make_signals(np.random.default_rng(20240301))
    for spec in FIXTURES:
        write_fixture(spec, data)


if __name__ == "__main__":
    main()
