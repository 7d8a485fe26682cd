"""Starts tavrin_arm_teleop_node on a ROS 2 Humble robot.

Parameters come, later ones winning, from the config file (config/teleop.yaml by default), then
an optional controller preset (config/<controller>.yaml), then any parameter argument given
here. A parameter argument left empty keeps the value from the files.

  ros2 launch tavrin_arm_teleop teleop.launch.py
  ros2 launch tavrin_arm_teleop teleop.launch.py controller:=xbox joy_dev:=/dev/input/js1
  ros2 launch tavrin_arm_teleop teleop.launch.py joy_dev:=/joy joy_btns:='[4, 0, 2, 3, 1, 5, 6, 7]'
  ros2 launch tavrin_arm_teleop teleop.launch.py config:=/etc/tavrin/teleop.yaml
  ros2 launch tavrin_arm_teleop teleop.launch.py controller:=xbox enable_button:=5
  ros2 launch tavrin_arm_teleop teleop.launch.py coalesce_interval_ms:=1
"""

import os

from ament_index_python.packages import get_package_share_directory
from launch import LaunchDescription
from launch.actions import DeclareLaunchArgument, OpaqueFunction
from launch.substitutions import LaunchConfiguration
from launch_ros.actions import Node

PACKAGE = 'tavrin_arm_teleop'

# name, description; an empty value keeps what the config files say.
PARAMETER_ARGUMENTS = (
    ('deadzone', 'stick dead band as a fraction of full travel, in [0, 1)'),
    ('joy_dev', 'input: a joystick device (/dev/input/jsN, /dev/input/by-id/...-joystick, '
                '/dev/input/by-path/...-joystick), /joy for sensor_msgs/Joy, else no input'),
    ('joy_axis', 'axis remap, e.g. [1, 0, 2, 3, 4, 5]: linear x y z, angular x y z'),
    ('joy_btns', 'button remap, e.g. [4, 0, 2, 3, 1, 5, 6, 7]: reverse, grab, I/O off, '
                 'I/O on, e-stop, (none), joint space, cartesian space'),
    ('enable_button', 'button to hold for motion, -1 for none (motion always on)'),
    ('coalesce_interval_ms', 'axis window in ms, 0 to 100: stick events within it go out as '
                             'one command; 0 sends each at once'),
)

# The node's logging facade reads these once, at its first log line.
LOG_ARGUMENTS = (
    ('spdlog_stdout', 'SPDLOG_STDOUT', 'true', 'log to standard output: true or false'),
    ('spdlog_systemd', 'SPDLOG_SYSTEMD', 'false', 'log to the systemd journal: true or false'),
    ('spdlog_level', 'SPDLOG_LEVEL', 'info',
     'trace, debug, info, warning, error or critical (the node logs at info)'),
)


def parameter_sources(context):
    """Config file, then the preset, then the parameter arguments that were given."""
    sources = [LaunchConfiguration('config').perform(context)]
    controller = LaunchConfiguration('controller').perform(context).strip()
    if controller:
        preset = os.path.join(get_package_share_directory(PACKAGE), 'config', controller + '.yaml')
        if not os.path.isfile(preset):
            raise RuntimeError(f'controller:={controller}: no preset {preset} (try xbox or playstation)')
        sources.append(preset)
    overrides = {}
    for name, _ in PARAMETER_ARGUMENTS:
        value = LaunchConfiguration(name).perform(context).strip()
        if value:
            # launch_ros reads a string override as YAML: 0.2 a double, [1, 0] a list.
            overrides[name] = value
    if overrides:
        sources.append(overrides)
    return sources


def start_node(context):
    environment = {
        variable: LaunchConfiguration(argument).perform(context)
        for argument, variable, _, _ in LOG_ARGUMENTS
    }
    return [
        Node(
            package=PACKAGE,
            executable='tavrin_arm_teleop_node',
            name='tavrin_arm_teleop_node',
            output='screen',
            emulate_tty=True,
            parameters=parameter_sources(context),
            additional_env=environment,
        )
    ]


def generate_launch_description():
    default_config = os.path.join(get_package_share_directory(PACKAGE), 'config', 'teleop.yaml')
    arguments = [
        DeclareLaunchArgument(
            'config', default_value=default_config,
            description='parameter file (ROS 2 params YAML)'),
        DeclareLaunchArgument(
            'controller', default_value='',
            description='controller preset applied over the config file: xbox or playstation'),
    ]
    arguments += [
        DeclareLaunchArgument(name, default_value='', description=description)
        for name, description in PARAMETER_ARGUMENTS
    ]
    arguments += [
        DeclareLaunchArgument(argument, default_value=default, description=description)
        for argument, _, default, description in LOG_ARGUMENTS
    ]
    return LaunchDescription(arguments + [OpaqueFunction(function=start_node)])
