"""Type stub of the tamo package, written by tamo._stub from the tool's
command table."""

from os import PathLike
from typing import Any, Optional, Tuple, Union

import numpy as np
import numpy.typing as npt

__version__: str
Path = Union[str, PathLike[str]]
Image = Union[npt.ArrayLike, Path]

class Error(ValueError):
    code: int

def read(path: Path, type: Optional[str] = ...) -> np.ndarray: ...
def write(path: Path, array: Image, type: Optional[str] = ...,
          compress: Optional[bool] = ...) -> None: ...
def info(path: Path) -> dict[str, Any]: ...
def set_threads(n: Optional[int] = ...) -> None: ...
def memmap(path: Path, mode: str = ..., shape: Optional[Tuple[int, ...]] = ...,
           dtype: Any = ...) -> np.memmap: ...

def abs(image: Image, /, *, out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Absolute value of every pixel (flabsolute)"""
def add(a: Image, b: Image, /, *, dr: float = ..., dc: float = ..., out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Sum of two images, the second shifted (fladdi)"""
def adds(image: Image, /, *, value: float = ..., out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Add a constant to every pixel (fladds)"""
def addv(a: Image, b: Image, /, *, out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Sum of two images of the same size (fladdv)"""
def atan2(a: Image, b: Image, /, *, out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Angle atan2(A, B) of two images (flatan2)"""
def ccl(image: Image, /, *, thresh: float = ..., minval: float = ..., maxval: float = ..., erase_small: float = ..., erase_large: float = ..., areas: Optional[Path] = ..., type: str = ..., zero_frames: bool = ...) -> Tuple[np.ndarray, int]:
    """Connected-component labelling"""
def colormap(image: Image, /, *, map: Optional[float] = ..., labels: Optional[float] = ..., seed: Optional[float] = ..., state: Optional[float] = ..., frame: Optional[float] = ..., out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Pseudo-colour a 2-D image with a colour map or random label colours"""
def correlate(image: Image, template: Image, /, *, out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Correlation of a template with every position of an image"""
def cp(image: Image, /, *, out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Copy a "float" or "32cmp" image (flcp)"""
def crcopy(image: Image, /, *, out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Copy an image of any type (flcrcopy)"""
def curv(image: Image, /, *, sigma: float = ..., out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Isophote curvature (flcurv)"""
def div(a: Image, b: Image, /, *, dr: float = ..., dc: float = ..., out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Quotient of two images, the second shifted (fldivi)"""
def divv(a: Image, b: Image, /, *, out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Quotient of two images of the same size (fldivv)"""
def dog(image: Image, /, *, order: float = ..., direction: float = ..., sigma: float = ..., out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Gaussian blur or Gaussian derivative of an image (flDoG)"""
def exp(image: Image, /, *, scale: float = ..., out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Exponential of every pixel, held at 255 (flexp)"""
def fft(image: Image, /, *, zero_frames: bool = ..., out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Forward two-dimensional Fourier transform"""
def gdir(image: Image, /, *, sigma: float = ..., out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Gradient direction in radians (flgdir)"""
def gmag(image: Image, /, *, sigma: float = ..., out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Gradient magnitude (flgmag)"""
def gray(image: Image, /, *, out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Grey image of a colour image (flcolor2gray)"""
def harris(image: Image, /, *, sigma: float = ..., out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Harris corner response (flHarris)"""
def histeq(image: Image, /, *, neighbourhood: float = ..., out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Histogram equalisation, whole image or in sliding windows"""
def hog(image: Image, /, *, out: Optional[np.ndarray] = ...) -> np.ndarray:
    """HoG descriptor: 9-bin gradient orientation histograms of 8 x 8 cells"""
def ifft(image: Image, /, *, zero_frames: bool = ..., out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Inverse two-dimensional Fourier transform"""
def ifneg(image: Image, /) -> bool:
    """Print 1 if any pixel is negative, else 0 (ifneg)"""
def imag(image: Image, /, *, type: str = ..., zero_frames: bool = ..., out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Imaginary part of a complex image"""
def intcp(image: Image, /, *, colour: bool = ..., out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Copy the first plane of a "32bit" image (intcp)"""
def inv(image: Image, /, *, out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Invert about the maximum (flinv)"""
def laplace(image: Image, /, *, sigma: float = ..., out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Laplacian Lxx + Lyy (flLaplace)"""
def ln(image: Image, /, *, out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Natural logarithm of every pixel (flln)"""
def mag(image: Image, /, *, type: str = ..., zero_frames: bool = ..., out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Magnitude of a complex image"""
def markmax(image: Image, /, *, sigma: float = ..., out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Picture with local maxima in red (flmarkmax)"""
def mul(a: Image, b: Image, /, *, dr: float = ..., dc: float = ..., out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Product of two images, the second shifted (flmuli)"""
def mults(image: Image, /, *, value: float = ..., out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Multiply every pixel by a constant (flmults)"""
def multv(a: Image, b: Image, /, *, out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Product of two images of the same size (flmultv)"""
def pad(image: Image, /, *, rows: float = ..., cols: float = ..., frame: float = ..., out: Optional[np.ndarray] = ...) -> np.ndarray:
    """One frame surrounded by replicated borders (padme1)"""
def pcon(estimate: Image, data: Image, /, *, sigma: float = ..., r: float = ..., b: float = ..., t1: float = ..., t2: float = ..., dlt: float = ...) -> Tuple[np.ndarray, np.ndarray]:
    """Piecewise-constant restoration by mean-field annealing"""
def phase(image: Image, /, *, type: str = ..., zero_frames: bool = ..., out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Phase of a complex image"""
def qvar(image: Image, /, *, sigma: float = ..., out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Quadratic variation (flqvar)"""
def real(image: Image, /, *, type: str = ..., zero_frames: bool = ..., out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Real part of a complex image"""
def resize(image: Image, /, *, rows: Optional[float] = ..., cols: Optional[float] = ..., mode: float = ..., out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Resample an image to a given number of rows and columns"""
def showhog(image: Image, /, *, out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Picture of a HoG descriptor as line glyphs"""
def sqrt(image: Image, /, *, out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Square root of every pixel (flsqrt)"""
def sub(a: Image, b: Image, /, *, dr: float = ..., dc: float = ..., out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Difference of two images, the second shifted (flsubi)"""
def vidscale(image: Image, /, *, per_frame: bool = ..., out: Optional[np.ndarray] = ...) -> np.ndarray:
    """Stretch an image linearly to 0..255 ("u8bit")"""
