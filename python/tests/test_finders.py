"""Rigid finders on the generated asymmetric pattern, and how images are taken."""
import numpy as np
import pytest

import vcflexalign as vf
from vcflexalign import samples

# The pattern's origin at the centre of a 160 x 160 training image: the finders' default origin.
TRAIN = samples.asymmetric_image(samples.pose(80, 80), width=160, height=160)
POSES = [(301.37, 222.81, 0.0, 1.0), (250.5, 260.25, 37.5, 1.06), (390.12, 180.7, -121.0, 0.93)]


@pytest.fixture(scope="module")
def geofind():
    f = vf.GeofindFinder()
    f.train(TRAIN)
    return f


def test_geofind_finds_known_poses_within_five_hundredths_of_a_pixel(geofind):
    for x, y, angle, scale in POSES:
        image = samples.asymmetric_image(samples.pose(x, y, angle, scale))
        found = geofind.find(image, angle=(-180, 180), scale=(0.9, 1.1))
        assert len(found) == 1
        r = found[0]
        assert np.hypot(r.x - x, r.y - y) < 0.05, (r, x, y)
        assert abs((r.angle - angle + 180) % 360 - 180) < 0.05
        assert r.scale == pytest.approx(scale, abs=0.001)
        # The pose maps the training origin to the reported point.
        assert r.pose @ np.array([80.0, 80.0, 1.0]) == pytest.approx([r.x, r.y])


def test_correlation_finds_known_poses_within_five_hundredths_of_a_pixel():
    f = vf.CorrelationFinder()
    f.train(TRAIN, max_angle=20, max_scale=0.15)
    for x, y, angle, scale in [(300.3, 200.6, 0.0, 1.0), (280.0, 240.0, 12.0, 1.08)]:
        image = samples.asymmetric_image(samples.pose(x, y, angle, scale))
        r = f.find(image, angle=(-20, 20), scale=(0.85, 1.15))[0]
        assert np.hypot(r.x - x, r.y - y) < 0.05, (r, x, y)
        assert r.angle == pytest.approx(angle, abs=0.1)
        assert r.scale == pytest.approx(scale, abs=0.002)
        assert r.score > 0.9


def test_masked_training_and_a_crop_with_padded_rows(geofind):
    mask = np.full(TRAIN.shape, 255, np.uint8)
    mask[:, :40] = 0  # a quarter of the pattern left out
    masked = vf.GeofindFinder()
    masked.train(TRAIN, mask=mask)
    image = samples.asymmetric_image(samples.pose(320.4, 240.2, 10.0))
    whole = masked.find(image, angle=(-20, 20))[0]
    assert np.hypot(whole.x - 320.4, whole.y - 240.2) < 0.05
    # A crop is viewed in place (rows of the full image apart); results move with the crop.
    crop = image[100:400, 150:500]
    assert not crop.flags.c_contiguous
    r = geofind.find(crop, angle=(-20, 20))[0]
    copy = geofind.find(np.ascontiguousarray(crop), angle=(-20, 20))[0]
    assert (r.x, r.y, r.score) == (copy.x, copy.y, copy.score)
    assert np.hypot(r.x + 150 - 320.4, r.y + 100 - 240.2) < 0.05


@pytest.mark.parametrize(
    "bad, error, words",
    [
        (np.zeros((50, 60), np.float64), TypeError, "dtype uint8"),
        ([[0] * 60] * 50, TypeError, "numpy array"),
        (np.zeros((50, 60, 3), np.uint8), ValueError, "colour array .* channels='RGB' or 'BGR'"),
        (np.zeros((50, 60, 2), np.uint8), ValueError, "2-D"),
        (np.zeros((50, 120), np.uint8)[:, ::2], ValueError, "contiguous rows"),
        (np.zeros((0, 60), np.uint8), ValueError, "empty"),
    ],
)
def test_bad_arrays_are_refused_with_their_error(geofind, bad, error, words):
    with pytest.raises(error, match=words):
        geofind.find(bad)
    with pytest.raises(error, match=words):
        vf.CorrelationFinder().train(bad)
    with pytest.raises(error, match=words):
        vf.SubModel.from_image(bad, "piece")


def test_engine_errors_are_python_exceptions():
    with pytest.raises(ValueError, match="not trained"):
        vf.GeofindFinder().find(TRAIN)
    flat = np.full((64, 64), 90, np.uint8)
    with pytest.raises(vf.GeofindError) as e:
        vf.GeofindFinder().train(flat)
    assert isinstance(e.value, vf.Error) and str(e.value)


def test_a_positive_angle_turns_clockwise_on_the_screen_the_other_way_from_opencv(geofind):
    # An arrow drawn by hand, pointing right; then turned so that it points down and to the
    # right: clockwise as the image is shown (rows going down).
    def arrow(turn_deg):
        image = np.full((200, 200), 30, np.uint8)
        yy, xx = np.mgrid[0:200, 0:200] - 100.0
        t = np.radians(turn_deg)
        u, v = xx * np.cos(t) + yy * np.sin(t), -xx * np.sin(t) + yy * np.cos(t)
        image[(np.abs(v) < 6) & (u > -60) & (u < 50)] = 220  # the shaft
        image[(u >= 50) & (u < 75) & (np.abs(v) < (75 - u) * 0.8)] = 220  # the head
        return image

    finder = vf.GeofindFinder()
    finder.train(arrow(0))
    r = finder.find(arrow(30), angle=(-90, 90))[0]
    assert r.angle == pytest.approx(30, abs=0.5)
    # The README's matrix, and OpenCV's getRotationMatrix2D(centre, a, 1) as OpenCV documents
    # it ([[cos a, sin a, ...], [-sin a, cos a, ...]]): the same turn is -30 there.
    a = np.radians(r.angle)
    assert r.pose[:, :2] == pytest.approx(np.array([[np.cos(a), -np.sin(a)], [np.sin(a), np.cos(a)]]),
                                          abs=0.01)
    cv = np.radians(-30)
    assert r.pose[:, :2] == pytest.approx(np.array([[np.cos(cv), np.sin(cv)], [-np.sin(cv), np.cos(cv)]]),
                                          abs=0.01)
