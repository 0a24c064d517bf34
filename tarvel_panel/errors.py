"""The one error a user's input can cause: it names the file, the line where
there is one, and what is wrong."""


class InputError(Exception):
    def __init__(self, path, message, line=None):
        self.path = str(path)
        self.message = message
        self.line = line
        where = self.path if line is None else f"{self.path}:{line}"
        super().__init__(f"{where}: {message}")
