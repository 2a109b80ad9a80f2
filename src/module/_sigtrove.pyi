"""Type information for the _sigtrove extension module."""

import os
from typing import Any, Dict, List, Optional, Tuple, Union

_Path = Union[str, "os.PathLike[str]"]
_SignalId = Union[int, str]

STAT_READ: int
STAT_READ_AHA: int

class Error(Exception): ...
class InitError(Error): ...

def verbose(flag: object = ...) -> None: ...

class Record:
    record: str
    basedir: str
    nsig: int
    frequency: float
    signal_names: Tuple[str, ...]
    @property
    def name(self) -> str: ...
    def __new__(cls, record: _Path) -> "Record": ...
    def read(self, signal_id: _SignalId, start: int = ..., length: int = ...,
             correct_gain: object = ...) -> Union[List[float], List[int]]: ...
    def annotation(self, name: str = ..., stat: int = ...) -> "Annotation": ...
    def signal_info(self, signal_id: _SignalId) -> Dict[str, Any]: ...
    def close(self) -> None: ...

class AnnotationEntry:
    time: int
    subtype: int
    channel: int
    annotator: int
    type: int
    typestr: str
    @property
    def aux(self) -> Optional[str]: ...
    @property
    def isqrs(self) -> bool: ...
    @property
    def description(self) -> str: ...
    def __new__(cls, time: int, type: int, subtype: int = ..., channel: int = ...,
                annotator: int = ..., aux: Optional[str] = ...) -> "AnnotationEntry": ...

class Annotation:
    record: str
    basedir: str
    name: str
    def __new__(cls, record: _Path, name: str = ..., stat: int = ...) -> "Annotation": ...
    def read(self, start: int = ..., length: int = ..., anntype: Union[int, str] = ...,
             annotator: int = ...) -> List[AnnotationEntry]: ...
