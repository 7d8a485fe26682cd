"""The demo session on a ROS 2 Humble machine: tavrin_arm_teleop_node between the scripted
virtual controller and the demo robot, for about 15 seconds, on loopback only.

  ros2 launch tavrin_arm_teleop demo.launch.py
  ros2 launch tavrin_arm_teleop demo.launch.py input:=topic domain_id:=221

The session stays on this machine (ROS_LOCALHOST_ONLY=1) and on a domain of its own: the demo
robot answers the emergency stop and the grab as the robot would, so a robot on the same
network and domain would obey the session. A CYCLONEDDS_URI of the shell is left out for the
same reason. The launch ends when the session does.
"""

from launch import LaunchDescription
from launch.actions import (DeclareLaunchArgument, ExecuteProcess, RegisterEventHandler,
                            SetEnvironmentVariable, Shutdown, UnsetEnvironmentVariable)
from launch.event_handlers import OnProcessExit
from launch.substitutions import LaunchConfiguration, PathJoinSubstitution
from launch_ros.substitutions import FindPackagePrefix

PACKAGE = 'tavrin_arm_teleop'


def program(name):
    return PathJoinSubstitution([FindPackagePrefix(PACKAGE), 'lib', PACKAGE, name])


def generate_launch_description():
    # The controller starts the node itself, so that it can hand it a joystick device.
    controller = ExecuteProcess(
        cmd=[program('tavrin_virtual_controller'), '--output', LaunchConfiguration('input'),
             '--', program('tavrin_arm_teleop_node')],
        output='screen')
    return LaunchDescription([
        DeclareLaunchArgument('domain_id', default_value='220',
                              description='the DDS domain of the session (0 to 230 secured)'),
        DeclareLaunchArgument('input', default_value='auto',
                              description='how the controller reaches the node: auto, device '
                                          '(a joystick device, needs root) or topic (/joy)'),
        SetEnvironmentVariable('ROS_LOCALHOST_ONLY', '1'),
        SetEnvironmentVariable('ROS_DOMAIN_ID', LaunchConfiguration('domain_id')),
        UnsetEnvironmentVariable('CYCLONEDDS_URI'),
        ExecuteProcess(cmd=[program('tavrin_demo_robot'), '--plain'], output='screen'),
        controller,
        RegisterEventHandler(OnProcessExit(
            target_action=controller, on_exit=[Shutdown(reason='the demo session is over')])),
    ])
