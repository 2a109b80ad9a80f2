"""The commands of the ``sigtrove`` command line (sigtrove.cli), a module each: its docstring,
SUMMARY, add_arguments(parser) and run(options). What several commands share (their arguments, the
progress bar) lives beside them in the modules whose names begin with an underscore; the library
(sigtrove) knows nothing of the command line."""
