"""A viewer of records in the web browser: a small web server on 127.0.0.1 and one page, which scrolls
through a whole record a window at a time, with a lane per signal and its annotators' annotations on
them. `sigtrove.view(record, annotators)` starts one (in a notebook, it shows inline); the command
line's `sigtrove view RECORD` serves one until Ctrl-C.

    viewer = sigtrove.view(sigtrove.SAMPLE_RECORD, "atr", browser=False)
    print(viewer.url)      # http://127.0.0.1:PORT/TOKEN/
    viewer.close()
"""

from sigtrove.viewer._viewer import Viewer, view

__all__ = ["Viewer", "view"]
