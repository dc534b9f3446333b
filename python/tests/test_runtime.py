"""Ctrl-C stops a running search and leaves the model usable; calls leak
neither Python references nor library memory."""

import _thread
import signal
import sys
import threading
import time

import numpy as np
import pytest

import qsrch
from conftest import planted, texture


@pytest.fixture(scope="module")
def long_search():
    """A model and a scene whose search polls often and runs for seconds."""
    scene = texture(3000, 3000, seed=11, cell=4)
    model = qsrch.Model(scene[500:564, 700:764].copy(), granularity=(4, 1))
    return model, scene, dict(num=2000, accept=0.0, confusion=1.0)


def interrupt_main_after(seconds):
    timer = threading.Timer(seconds, _thread.interrupt_main)
    timer.start()
    return timer


def test_ctrl_c_stops_find_and_the_model_stays_usable(long_search, board):
    model, scene, options = long_search
    small = scene[480:600, 680:800]
    before = model.find(small)
    timer = interrupt_main_after(0.2)
    start = time.thread_time()
    with pytest.raises(KeyboardInterrupt):
        model.find(scene, **options)
    timer.join()
    # Run to the end, the search takes several seconds of this thread's time.
    assert time.thread_time() - start < 1.5
    assert model.find(small) == before


def test_ctrl_c_stops_every_thread_of_find_many(long_search):
    model, scene, options = long_search
    timer = interrupt_main_after(0.2)
    start = time.process_time()
    with pytest.raises(KeyboardInterrupt):
        model.find_many([scene] * 4, threads=2, **options)
    timer.join()
    assert time.process_time() - start < 3.0


def test_a_signal_handler_that_does_not_raise_lets_the_search_finish(long_search):
    model, scene, options = long_search
    handled = []
    previous = signal.signal(signal.SIGINT, lambda *_: handled.append(time.perf_counter()))
    try:
        timer = interrupt_main_after(0.02)
        start = time.perf_counter()
        found = model.find(scene[:1500, :1500], **options)
        end = time.perf_counter()
        timer.join()
    finally:
        signal.signal(signal.SIGINT, previous)
    # The handler ran from inside the search, which then went on to the end.
    assert len(handled) == 1 and start < handled[0] < end
    assert len(found) == options["num"]


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * 4096


def test_ten_thousand_calls_leak_nothing(board):
    pattern, scene = board
    small = planted(texture(48, 56, seed=3), pattern, [(10, 12)])
    mask = np.ones(small.shape, bool)
    model = qsrch.Model(pattern)

    def calls():
        model.find(small, num=2, mask=mask)
        qsrch.score_map(pattern, small, mode="abs")
        with pytest.raises(qsrch.ParameterError):
            model.find(small, accept=2.0)

    for _ in range(200):
        calls()
    counts = [sys.getrefcount(a) for a in (model, pattern, small, mask)]
    blocks, rss = qsrch._qsrch._blocks_in_use(), resident_bytes()
    for _ in range(10_000):
        calls()
    assert [sys.getrefcount(a) for a in (model, pattern, small, mask)] == counts
    assert qsrch._qsrch._blocks_in_use() == blocks
    assert resident_bytes() - rss < 1 << 20


@pytest.mark.parametrize("call", ["train", "find"])
def test_every_failed_allocation_raises_and_leaks_nothing(call, board):
    pattern, scene = board
    model = qsrch.Model(pattern)
    expected = model.find(scene, num=2)
    work = {"train": lambda: qsrch.Model(pattern), "find": lambda: model.find(scene, num=2)}[call]
    library = qsrch._qsrch
    blocks, start = library._blocks_in_use(), library._allocation_count()
    work()
    for n in range(library._allocation_count() - start):
        library._fail_allocation_after(n)
        with pytest.raises(qsrch.OutOfMemoryError, match="QSYS_E_NO_MEMORY"):
            work()
    library._fail_allocation_after(-1)
    assert library._blocks_in_use() == blocks
    assert model.find(scene, num=2) == expected
