"""The slowest a server may send, as the engine holds its own transfers to it: a transfer that,
while it is waited for, brings fewer than RATE_FLOOR bytes a second over a stretch as long as the
timeout fails. Silence is the extreme case; a server that trickles a byte or two a second, which
resets any timeout of silence, is held to the same bound. Only time spent waiting counts."""

from collections import deque
from typing import Deque, Tuple

# As libcurl's low-speed limit is used: a rate no working connection falls below for long.
RATE_FLOOR = 1024
# Arrivals this close together (in seconds of waiting) are kept as one.
_RESOLUTION = 0.1


class TransferRate:
    def __init__(self, window: float, floor: int = RATE_FLOOR) -> None:
        self.window = window
        self.floor = floor
        self.clock = 0.0  # seconds spent waiting so far
        self.arrivals: Deque[Tuple[float, int]] = deque()  # (clock, bytes) of the last window

    def waited(self, seconds: float, received: int) -> None:
        """`seconds` more were spent waiting, and `received` bytes came in them."""
        self.clock += max(0.0, seconds)
        if received > 0:
            if self.arrivals and self.clock - self.arrivals[-1][0] < _RESOLUTION:
                self.arrivals[-1] = (self.arrivals[-1][0], self.arrivals[-1][1] + received)
            else:
                self.arrivals.append((self.clock, received))
        while self.arrivals and self.arrivals[0][0] <= self.clock - self.window:
            self.arrivals.popleft()

    def _in_window(self) -> int:
        return sum(count for _, count in self.arrivals)

    def too_slow(self) -> bool:
        return self.clock >= self.window and self._in_window() < self.floor * self.window

    def patience(self) -> float:
        """Seconds of waiting with nothing arriving before too_slow() holds."""
        needed = self.floor * self.window
        remaining = self._in_window()
        fails_at = max(self.clock, self.window)
        if remaining >= needed:
            for at, count in self.arrivals:
                remaining -= count
                if remaining < needed:
                    fails_at = max(at + self.window, self.window)
                    break
        return max(0.0, fails_at - self.clock)

    def failure(self) -> str:
        if self._in_window() == 0:
            return "timed out: nothing arrived for %g s" % self.window
        return "too slow: fewer than %d bytes a second arrived over %g s" % (self.floor, self.window)
