"""QuorixError: a failure of the SDK, with its error code and what the code means."""

# The SDK's error codes (QUORIX_ERR_* of quorix.h) and their meanings.
ERROR_MEANINGS = {
    0: "the SDK gave no error code",
    1: "no camera engine, or not allowed in this state",
    2: "camera not present or could not be opened",
    3: "a thread or its event could not be created",
    4: "preview window failed, or no matching size preset",
    5: "allocation failed, caller buffer or record too small",
    6: "register access or an engine command failed",
    7: "invalid capture window",
    8: "frame acquisition failed",
    9: "invalid argument",
    10: "not used",
    11: "not supported by this camera",
    12: "text conversion, output buffer, file, recording or mask failed",
    13: "image transfer stopped (camera unplugged or stopped sending)",
    14: "mask file could not be read or written",
}


class QuorixError(Exception):
    """A failed SDK call.

    Attributes:
        code: the SDK's error code (QUORIX_ERR_*, 1..14), or 0 when the SDK failed without one.
        meaning: what the code means.
        operation: the SDK function or the package operation that failed.
    """

    def __init__(self, code, operation=""):
        self.code = int(code)
        self.meaning = ERROR_MEANINGS.get(self.code, "unknown error code")
        self.operation = operation
        where = f"{operation}: " if operation else ""
        super().__init__(f"{where}error {self.code}: {self.meaning}")
