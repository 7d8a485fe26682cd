#!/usr/bin/env python3
"""What a ROS 2 Humble robot gets from the package: parameter files, launch file, systemd unit.

Run: test_packaging.py SOURCE_DIR   (the repository root)
"""

import importlib.util
import pathlib
import shutil
import subprocess
import sys
import types
import unittest
from unittest import mock

import yaml

# Loading the launch file must not leave a bytecode cache in the source tree, which colcon
# would then install with the launch folder.
sys.dont_write_bytecode = True

ROOT = pathlib.Path(sys.argv.pop(1) if len(sys.argv) > 1 else '.').resolve()
CONFIG = ROOT / 'config'
PARAMETERS = (
    'deadzone', 'joy_dev', 'joy_axis', 'joy_btns', 'enable_button', 'coalesce_interval_ms')
ROLE_ENTRIES = (0, 1, 2, 3, 4, 6, 7)  # entry 5 of joy_btns has no role

# What the Linux joystick driver reports for each preset's controller.
LAYOUTS = {
    'xbox.yaml': {'axes': 8, 'buttons': 11, 'trigger_axes': {2, 5}, 'trigger_buttons': set()},
    'playstation.yaml': {
        'axes': 8, 'buttons': 13, 'trigger_axes': {2, 5}, 'trigger_buttons': {6, 7}},
}


class ParameterFiles(unittest.TestCase):

    def test_every_file_sets_every_parameter_and_presets_fit_their_controller(self):
        files = sorted(CONFIG.glob('*.yaml'))
        self.assertEqual([path.name for path in files],
                         ['playstation.yaml', 'teleop.yaml', 'xbox.yaml'])
        for path in files:
            with self.subTest(path.name):
                document = yaml.safe_load(path.read_text())
                self.assertEqual(list(document), ['/**'])
                self.assertEqual(list(document['/**']), ['ros__parameters'])
                parameters = document['/**']['ros__parameters']
                # Types and ranges are the node's to refuse as it loads these files.
                self.assertEqual(set(parameters), set(PARAMETERS))
                axes, buttons = parameters['joy_axis'], parameters['joy_btns']
                self.assertGreaterEqual(len(axes), 6)
                self.assertGreaterEqual(len(buttons), 8)
                layout = LAYOUTS.get(path.name)
                if layout is None:
                    continue
                self.assertTrue(all(0 <= axis < layout['axes'] for axis in axes))
                self.assertTrue(all(0 <= button < layout['buttons'] for button in buttons))
                # Entries 2 and 5 get the trigger transform: they must be the analogue triggers,
                # and no stick entry may be one.
                self.assertEqual({axes[2], axes[5]}, layout['trigger_axes'])
                self.assertFalse({axes[0], axes[1], axes[3], axes[4]} & layout['trigger_axes'])
                self.assertEqual(parameters['enable_button'], -1, 'presets leave it off')
                self.assertEqual(parameters['coalesce_interval_ms'], 10, 'presets keep the default')
                roles = [buttons[entry] for entry in ROLE_ENTRIES]
                self.assertEqual(len(set(roles)), len(roles), 'two roles share a button')
                self.assertFalse(set(roles) & layout['trigger_buttons'],
                                 'a trigger pull would also press a role button')


def load_launch_file(share):
    """The launch module, with the launch, launch_ros and ament_index_python modules it imports
    replaced by recorders of what they are given (they are not installed here)."""
    def recorder(*args, **kwargs):
        return types.SimpleNamespace(args=args, kwargs=kwargs)
    modules = {name: types.ModuleType(name) for name in (
        'ament_index_python', 'ament_index_python.packages', 'launch', 'launch.actions',
        'launch.substitutions', 'launch_ros', 'launch_ros.actions')}
    modules['ament_index_python.packages'].get_package_share_directory = lambda package: share
    modules['launch'].LaunchDescription = lambda entities: list(entities)
    modules['launch.actions'].DeclareLaunchArgument = recorder
    modules['launch.actions'].OpaqueFunction = recorder
    modules['launch.substitutions'].LaunchConfiguration = lambda name: types.SimpleNamespace(
        perform=lambda context: context[name])
    modules['launch_ros.actions'].Node = recorder
    with mock.patch.dict(sys.modules, modules):
        location = importlib.util.spec_from_file_location(
            'teleop_launch', ROOT / 'launch/teleop.launch.py')
        module = importlib.util.module_from_spec(location)
        location.loader.exec_module(module)
        return module


class LaunchFile(unittest.TestCase):

    def setUp(self):
        entities = load_launch_file(str(ROOT)).generate_launch_description()
        self.arguments = {entity.args[0]: entity.kwargs for entity in entities[:-1]}
        self.start = entities[-1].kwargs['function']

    def launch(self, **given):
        context = {name: argument['default_value'] for name, argument in self.arguments.items()}
        context.update(given)
        return self.start(context)[0].kwargs

    def test_without_arguments_the_node_gets_the_default_file_only(self):
        self.assertTrue({'config', 'controller', *PARAMETERS} <= set(self.arguments))
        node = self.launch()
        self.assertEqual(node['executable'], 'tavrin_arm_teleop_node')
        self.assertEqual(node['parameters'], [str(ROOT / 'config/teleop.yaml')])
        self.assertEqual(node['additional_env'], {
            'SPDLOG_STDOUT': 'true', 'SPDLOG_SYSTEMD': 'false', 'SPDLOG_LEVEL': 'info'})

    def test_preset_and_given_arguments_override_the_file_in_that_order(self):
        node = self.launch(controller='xbox', joy_dev='/joy', joy_btns='[4, 0, 2, 3, 1, 5, 6, 7]',
                           spdlog_systemd='true')
        self.assertEqual(node['parameters'], [
            str(ROOT / 'config/teleop.yaml'), str(ROOT / 'config/xbox.yaml'),
            {'joy_dev': '/joy', 'joy_btns': '[4, 0, 2, 3, 1, 5, 6, 7]'}])
        self.assertEqual(node['additional_env']['SPDLOG_SYSTEMD'], 'true')

    def test_unknown_preset_is_refused_by_name(self):
        with self.assertRaisesRegex(RuntimeError, 'controller:=gamecube'):
            self.launch(controller='gamecube')


class SystemdUnit(unittest.TestCase):
    UNIT = ROOT / 'systemd/tavrin_arm_teleop.service'

    def test_runs_the_node_with_journal_logging(self):
        text = self.UNIT.read_text()
        self.assertIn('\nEnvironment=SPDLOG_SYSTEMD=true\n', text)
        self.assertRegex(text, r'ExecStart=[^\n]*(\\\n[^\n]*)*tavrin_arm_teleop_node')
        self.assertIn('\nKillSignal=SIGINT\n', text)

    @unittest.skipUnless(shutil.which('systemd-analyze'), 'systemd-analyze is not installed')
    def test_systemd_accepts_the_unit_and_the_units_expose_little(self):
        result = subprocess.run(['systemd-analyze', 'verify', str(self.UNIT)],
                                capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        # A process that moves an arm gets the journal, DDS, input devices and a keystore only.
        for unit in (self.UNIT, ROOT / 'debian/tavrin-arm-teleop.service'):
            with self.subTest(unit.name):
                result = subprocess.run(
                    ['systemd-analyze', 'security', '--offline=true', '--threshold=25', str(unit)],
                    capture_output=True, text=True)
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                self.assertIn('DeviceAllow=char-input r', unit.read_text())


if __name__ == '__main__':
    unittest.main(verbosity=2)
