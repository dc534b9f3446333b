"""The exceptions raised for the library's failure statuses."""

__all__ = ["Error", "ParameterError", "PatternError", "ImageTooSmallError", "OutOfMemoryError"]


class Error(Exception):
    """A failure status of the qsrch library.

    code is the 32-bit status as an unsigned number (0x80000A04, say) and
    name its symbolic name ("QSRCH_E_BAD_ACCEPT_THRESHOLD").
    """

    def __init__(self, code, name, message):
        super().__init__(code, name, message)
        self.code = code
        self.name = name
        self.message = message

    def __str__(self):
        return f"{self.message} ({self.name}, 0x{self.code:08X})"


class ParameterError(Error, ValueError):
    """A training or search parameter outside its range."""


class PatternError(Error, ValueError):
    """A pattern that cannot be trained: uniform, too small, or too large."""


class ImageTooSmallError(Error, ValueError):
    """A scene not larger than the pattern."""


class OutOfMemoryError(Error, MemoryError):
    """The library ran out of memory."""


# What each refusal means, in the words of the Python arguments.
_RULES = {
    0x80000A01: (ParameterError, "granularity: coarse must be at least 1, fine a power of two"),
    0x80000A02: (ParameterError, "granularity: fine must not exceed coarse"),
    0x80000A04: (ParameterError, "accept must lie between 0 and 1"),
    0x80000A05: (ParameterError, "confusion must lie between 0 and 1"),
    0x80000A06: (ParameterError, "accept must not exceed confusion"),
    0x80000A07: (ParameterError, "num must be at least 1"),
    0x80000A08: (ParameterError, "overlap must lie between 0 and 1"),
    0x80000A0A: (PatternError, "the pattern has no contrast"),
    0x80000A0C: (PatternError, "the pattern has fewer than 3 pixels"),
    0x80000A0D: (ImageTooSmallError, "the scene is not larger than the pattern"),
    0x80000A0F: (ParameterError, "contrast: the minimum must be at least 0"),
    0x80000A10: (PatternError, "no usable coarse granularity for this pattern"),
    0x80000A11: (ParameterError, "contrast: the minimum exceeds the maximum"),
    0x80000A12: (ParameterError, "brightness: the minimum must be at least 0"),
    0x80000A13: (ParameterError, "brightness: the minimum exceeds the maximum"),
    0x80000A14: (PatternError, "the pattern is too large"),
    0x80000101: (OutOfMemoryError, "out of memory"),
}


def _from_status(code, name, doing):
    """The exception for a failed status; doing says what failed."""
    kind, rule = _RULES.get(code, (Error, "failed"))
    return kind(code, name, f"{doing}: {rule}")
